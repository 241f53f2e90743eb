// Types of the kestavo package: the face tracker in WebAssembly (kestavo.mjs, draw.mjs).
/// <reference lib="dom" />

/** RGBA pixels, 4 bytes a pixel, rows one after another (an ImageData is one). */
export interface RgbaFrame {
  width: number;
  height: number;
  data: Uint8Array | Uint8ClampedArray;
}

/** What a frame can be handed over as. Browser sources are read through a canvas. */
export type FrameSource =
  | RgbaFrame
  | ImageData
  | HTMLVideoElement
  | HTMLCanvasElement
  | OffscreenCanvas
  | ImageBitmap
  | HTMLImageElement;

/** What start() can run over: a video, a camera's stream, or a canvas drawn into. */
export type LoopSource = HTMLVideoElement | MediaStream | HTMLCanvasElement | OffscreenCanvas;

export interface Point {
  x: number;
  y: number;
}

export interface Rect {
  x: number;
  y: number;
  width: number;
  height: number;
}

export type TrackerState =
  | 'state_face_detection'
  | 'state_face_tracking_start'
  | 'state_face_tracking'
  | 'state_point_tracking'
  | string;

/** The head pose of the fitted Candide-3 mesh: image = scale · R · vertex + translation. */
export interface Pose {
  /** Rotation about the x axis (nodding), radians. */
  rotationX: number;
  /** Rotation about the y axis (turning), radians. */
  rotationY: number;
  /** Rotation about the z axis (tilting), radians. */
  rotationZ: number;
  /** Frame pixels. */
  translationX: number;
  /** Frame pixels. */
  translationY: number;
  /** Frame pixels per Candide model unit. */
  scale: number;
}

export interface CandideMesh {
  /** Vertex positions in frame pixels. */
  vertices: Point[];
  /** Vertex indices, three per triangle. */
  triangles: number[];
}

/** One frame's findings (kvo.track). All coordinates are frame pixels. */
export interface TrackResult {
  state: TrackerState;
  /** A face shape is followed: state_face_tracking_start or state_face_tracking. */
  tracked: boolean;
  /** The shape is confirmed (state_face_tracking), past its start phase. */
  confirmed: boolean;
  /** The 68 landmarks when tracked, else null. */
  points: Point[] | null;
  /** The landmarks' bounding box when tracked, else null. */
  bounds: Rect | null;
  /** When confirmed with the Candide fit on, else null. */
  pose: Pose | null;
  /** When confirmed with the Candide fit on, else null. */
  candide: CandideMesh | null;
  /** The library gives no confidence for a shape: always null in this version. */
  score: null;
  /** In face detection: the face the detector found on this frame, else null. */
  detectedFace: Rect | null;
  /** In point tracking: the host's points and whether each is still valid, else null. */
  trackedPoints: Array<Point & { valid: boolean }> | null;
  /** The frame size the coordinates refer to. */
  width: number;
  height: number;
  /** Milliseconds of the kvo_update call alone. */
  updateMs: number;
  /** For a frame from a video (start()): the video time of the frame, seconds. */
  mediaTime?: number;
}

export interface CreateOptions {
  /** 'auto' (default): threaded in a cross-origin isolated page or worker, single-threaded
   * elsewhere and always in Node. true where threads cannot run rejects. */
  threads?: 'auto' | boolean;
  /** Receives every line starting with "Error:" (default console.warn). */
  onError?: (line: string) => void;
  /** Receives the module's other output (default console.log). */
  onPrint?: (line: string) => void;
  /** Where the module files are (default: beside kestavo.mjs). */
  baseUrl?: string | URL;
  /** The .wasm bytes, instead of fetching (or, in Node, reading) them. */
  wasmBinary?: ArrayBuffer | Uint8Array;
}

export interface DrawOptions {
  /** Drawn first, filling the frame (the video the result came from). */
  image?: CanvasImageSource;
  /** Left to right flipped, as a selfie view (default false). */
  mirror?: boolean;
  points?: boolean;
  bounds?: boolean;
  mesh?: boolean;
  axes?: boolean;
  detection?: boolean;
  trackedPoints?: boolean;
  /** Text at the top left, never mirrored. */
  caption?: string;
  /** Radius of a landmark's dot in canvas pixels (default 2.5). */
  pointRadius?: number;
  onError?: (line: string) => void;
}

export type DrawTarget =
  | HTMLCanvasElement
  | OffscreenCanvas
  | CanvasRenderingContext2D
  | OffscreenCanvasRenderingContext2D;

/** The library's 36 functions, in its table's order. */
export type FunctionName =
  | 'kvo_init'
  | 'kvo_update'
  | 'kvo_updateByEyes'
  | 'kvo_reset'
  | 'kvo_get_mode'
  | 'kvo_set_mode'
  | 'kvo_get_lastState'
  | 'kvo_get_state'
  | 'kvo_get_nextState'
  | 'kvo_setPointTrackingVars'
  | 'kvo_get_pointsToTrack'
  | 'kvo_get_pointStates'
  | 'kvo_get_checkPointsValidBeforeTracking'
  | 'kvo_set_checkPointsValidBeforeTracking'
  | 'kvo_addPointsToTrack'
  | 'kvo_setFaceDetectionVars'
  | 'kvo_setFaceDetectionROI'
  | 'kvo_get_lastDetectedFace'
  | 'kvo_get_lastDetectedFaces'
  | 'kvo_setFaceTrackingVars'
  | 'kvo_get_faceShape_faceShapeTriangles'
  | 'kvo_get_faceShape_candideShapeTriangles'
  | 'kvo_get_faceShape_faceShapeVectices'
  | 'kvo_get_faceShape_points'
  | 'kvo_get_faceShape_bounds'
  | 'kvo_get_faceShape_candideShapeVertices'
  | 'kvo_get_faceShape_scale'
  | 'kvo_get_faceShape_translationX'
  | 'kvo_get_faceShape_translationY'
  | 'kvo_get_faceShape_rotationX'
  | 'kvo_get_faceShape_rotationY'
  | 'kvo_get_faceShape_rotationZ'
  | 'kvo_get_candideEnabled'
  | 'kvo_set_candideEnabled'
  | 'kvo_get_candideActionUnitsEnabled'
  | 'kvo_set_candideActionUnitsEnabled';

/** Setters return true when the library took the call, false after an "Error:" line. */
export type SetterName =
  | 'kvo_init'
  | 'kvo_reset'
  | 'kvo_set_mode'
  | 'kvo_setPointTrackingVars'
  | 'kvo_set_checkPointsValidBeforeTracking'
  | 'kvo_addPointsToTrack'
  | 'kvo_setFaceDetectionVars'
  | 'kvo_setFaceDetectionROI'
  | 'kvo_setFaceTrackingVars'
  | 'kvo_set_candideEnabled'
  | 'kvo_set_candideActionUnitsEnabled';

export type ArgValue = number | boolean | string | Point | Rect | FrameSource | ArgValue[] | null;

export interface Startup {
  /** Fetch, compile and instantiate, milliseconds. */
  loadMs: number;
  /** kvo_init (which decodes the models), milliseconds; null before init. */
  initMs: number | null;
}

export interface Kestavo {
  readonly threaded: boolean;
  /** The library's 36 function names. */
  readonly names: readonly FunctionName[];
  readonly startup: Startup;
  readonly errorCount: number;
  /** [width, height] of the first frame, or null before init. */
  readonly frameSize: [number, number] | null;
  /** True while a start() loop runs. */
  readonly running: boolean;

  /** Hands over a frame and returns what was found in it; initialises the tracker with the
   * first frame's size. null after an "Error:" line. */
  track(source: FrameSource): TrackResult | null;
  /** Tracks every new frame of `source`; false after an "Error:" line. */
  start(source: LoopSource, onResult: (result: TrackResult) => void): boolean;
  /** Ends the start() loop; true when one ran. */
  stop(): boolean;
  /** Draws a result (in its frame's pixels, scaled to the canvas). */
  draw(target: DrawTarget, result: TrackResult, options?: DrawOptions): boolean;

  /** Fixes the frame size; roi in frame pixels (default the whole frame). */
  init(frame: FrameSource, roi?: Rect): boolean;
  /** One frame: the state name, or null when no frame could be handed over. */
  update(frame: FrameSource): TrackerState | null;
  updateByEyes(frame: FrameSource, eyeA: Point, eyeB: Point, searches?: number): TrackerState | null;

  call(name: SetterName, ...args: ArgValue[]): boolean;
  call(name: 'kvo_update' | 'kvo_updateByEyes', ...args: ArgValue[]): TrackerState | null;
  call(name: 'kvo_get_faceShape_points' | 'kvo_get_pointsToTrack'): Point[] | null;
  call(name: 'kvo_get_faceShape_bounds' | 'kvo_get_lastDetectedFace'): Rect | null;
  call(name: 'kvo_get_lastDetectedFaces'): Rect[] | null;
  call(name: 'kvo_get_pointStates'): boolean[] | null;
  call(
    name:
      | 'kvo_get_faceShape_faceShapeTriangles'
      | 'kvo_get_faceShape_candideShapeTriangles'
      | 'kvo_get_faceShape_faceShapeVectices'
      | 'kvo_get_faceShape_candideShapeVertices',
  ): number[] | null;
  call(
    name:
      | 'kvo_get_faceShape_scale'
      | 'kvo_get_faceShape_translationX'
      | 'kvo_get_faceShape_translationY'
      | 'kvo_get_faceShape_rotationX'
      | 'kvo_get_faceShape_rotationY'
      | 'kvo_get_faceShape_rotationZ',
  ): number | null;
  call(
    name: 'kvo_get_mode' | 'kvo_get_lastState' | 'kvo_get_state' | 'kvo_get_nextState',
  ): string | null;
  call(
    name: 'kvo_get_candideEnabled' | 'kvo_get_candideActionUnitsEnabled' | 'kvo_get_checkPointsValidBeforeTracking',
  ): boolean | null;
  call(name: FunctionName, ...args: ArgValue[]): unknown;

  /** Frees the tracker; later calls give an "Error:" line. */
  dispose(): void;
}

export function createKestavo(options?: CreateOptions): Promise<Kestavo>;
/** True where the threaded module can run (a cross-origin isolated page or worker). */
export function threadsAvailable(): boolean;
export function draw(target: DrawTarget, result: TrackResult, options?: DrawOptions): boolean;
/** kvo_setFaceDetectionVars' arguments for video as the command-line tracker uses them:
 * faces from 72 px wide. */
export const VIDEO_DETECTION_VARS: readonly [number, number, number, number, number, boolean];
export const POINT_COLOUR: string;
export const MESH_COLOUR: string;
