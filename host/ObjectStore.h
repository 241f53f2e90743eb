#pragma once
// The arena that owns every host object and hands out FREObject handles for them.
//
// What it represents: a slot table of HostObject records. A handle encodes a slot index
// and the slot's generation, so a handle whose object has been released (or a value
// that never was a handle) is recognised as unknown rather than followed; handles are
// never addresses and must not be dereferenced.
//
// Lifetime: an object lives until the store is cleared or until a release() to a mark
// taken before its creation finds it unreachable. Memory therefore stays flat in a
// long frame loop that takes a mark before each frame and releases to it afterwards,
// while objects the frame stored into older arrays or objects survive.
//
// Thread safety: none; use from one thread.
#include <cstddef>
#include <cstdint>
#include <deque>

#include "host/HostObject.h"

namespace kvohost {

class ObjectStore {
public:
    // Creation position: objects created after a mark was taken are "younger" than it.
    using Mark = uint64_t;

    // Largest number of live objects; creation fails beyond it.
    static constexpr uint32_t MAX_OBJECTS = (1u << 20) - 1;

    // Creates a default object of `kind`. Ensures: a valid handle, or null when
    // MAX_OBJECTS objects are alive.
    FREObject create(Kind kind);

    // The object of `handle`; null for a null, released or foreign handle.
    HostObject* get(FREObject handle);
    const HostObject* get(FREObject handle) const;

    // The slot index of a valid handle (stable while the object lives), -1 otherwise.
    long indexOf(FREObject handle) const;

    Mark mark() const { return nextSerial_; }

    // Frees every object created after `m` that is not reachable (through array
    // elements and object properties) from an object created before `m` or from a
    // bitmap that is currently acquired. Ensures: handles of freed objects become
    // unknown.
    void release(Mark m);

    // Frees every object. Ensures: size() == 0 and every earlier handle is unknown.
    void clear();

    // Number of live objects.
    std::size_t size() const { return live_; }

    // Number of slots ever allocated (live or free): the arena's memory high-water mark.
    std::size_t capacity() const { return slots_.size(); }

    // Number of bitmaps currently acquired.
    std::size_t acquiredBitmaps() const { return acquired_; }
    void noteAcquired(bool acquired) { acquired ? ++acquired_ : --acquired_; }

private:
    struct Slot {
        uint32_t generation = 1;
        bool used = false;
        HostObject object;
    };

    FREObject encode(uint32_t index) const;
    void free(uint32_t index);

    std::deque<Slot> slots_;           // a deque keeps object addresses stable as it grows
    std::deque<uint32_t> freeSlots_;  // reused oldest first, so stale handles stay unknown longer
    uint64_t nextSerial_ = 0;
    std::size_t live_ = 0;
    std::size_t acquired_ = 0;
};

}  // namespace kvohost
