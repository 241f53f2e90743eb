#include "host/ObjectStore.h"

#include <vector>

namespace kvohost {

namespace {

// A handle is (generation << INDEX_BITS) | (index + 1): never zero, and as wide as a
// pointer, so the generation has 12 bits in a 32-bit process and 44 in a 64-bit one.
constexpr unsigned INDEX_BITS = 20;
constexpr uintptr_t INDEX_MASK = (uintptr_t(1) << INDEX_BITS) - 1;
constexpr uintptr_t GENERATION_MASK = ~uintptr_t(0) >> INDEX_BITS;

}  // namespace

const char* kindName(Kind kind) {
    switch (kind) {
        case Kind::Number: return "Number";
        case Kind::Int: return "int";
        case Kind::Boolean: return "Boolean";
        case Kind::String: return "String";
        case Kind::Array: return "Array";
        case Kind::Object: return "Object";
        case Kind::Point: return "flash.geom.Point";
        case Kind::Rectangle: return "flash.geom.Rectangle";
        case Kind::Bitmap: return "flash.display.BitmapData";
    }
    return "?";
}

FREObject ObjectStore::encode(uint32_t index) const {
    const uintptr_t generation = uintptr_t(slots_[index].generation) & GENERATION_MASK;
    return reinterpret_cast<FREObject>((generation << INDEX_BITS) | (uintptr_t(index) + 1));
}

long ObjectStore::indexOf(FREObject handle) const {
    const uintptr_t h = reinterpret_cast<uintptr_t>(handle);
    const uintptr_t low = h & INDEX_MASK;
    if (low == 0 || low > slots_.size()) return -1;
    const uint32_t index = uint32_t(low - 1);
    const Slot& slot = slots_[index];
    if (!slot.used || (uintptr_t(slot.generation) & GENERATION_MASK) != (h >> INDEX_BITS)) return -1;
    return long(index);
}

HostObject* ObjectStore::get(FREObject handle) {
    const long index = indexOf(handle);
    return index < 0 ? nullptr : &slots_[std::size_t(index)].object;
}

const HostObject* ObjectStore::get(FREObject handle) const {
    const long index = indexOf(handle);
    return index < 0 ? nullptr : &slots_[std::size_t(index)].object;
}

FREObject ObjectStore::create(Kind kind) {
    uint32_t index;
    if (!freeSlots_.empty()) {
        index = freeSlots_.front();
        freeSlots_.pop_front();
    } else {
        if (slots_.size() >= MAX_OBJECTS) return nullptr;
        index = uint32_t(slots_.size());
        slots_.emplace_back();
    }
    Slot& slot = slots_[index];
    slot.used = true;
    slot.object = HostObject();
    slot.object.kind = kind;
    slot.object.serial = nextSerial_++;
    ++live_;
    return encode(index);
}

void ObjectStore::free(uint32_t index) {
    Slot& slot = slots_[index];
    if (slot.object.kind == Kind::Bitmap && slot.object.acquired) --acquired_;
    slot.used = false;
    slot.object = HostObject();  // gives the storage of strings, arrays and pixels back
    ++slot.generation;
    freeSlots_.push_back(index);
    --live_;
}

void ObjectStore::release(Mark m) {
    std::vector<char> keep(slots_.size(), 0);
    std::vector<uint32_t> pending;
    for (uint32_t i = 0; i < slots_.size(); ++i) {
        const Slot& slot = slots_[i];
        if (slot.used && (slot.object.serial < m || slot.object.acquired)) {
            keep[i] = 1;
            pending.push_back(i);
        }
    }
    auto reach = [&](FREObject child) {
        const long j = indexOf(child);
        if (j >= 0 && !keep[std::size_t(j)]) {
            keep[std::size_t(j)] = 1;
            pending.push_back(uint32_t(j));
        }
    };
    while (!pending.empty()) {
        const HostObject& object = slots_[pending.back()].object;
        pending.pop_back();
        for (FREObject e : object.elements) reach(e);
        for (const auto& p : object.properties) reach(p.second);
    }
    for (uint32_t i = 0; i < slots_.size(); ++i) {
        if (slots_[i].used && !keep[i]) free(i);
    }
}

void ObjectStore::clear() {
    for (uint32_t i = 0; i < slots_.size(); ++i) {
        if (slots_[i].used) free(i);
    }
    acquired_ = 0;
}

}  // namespace kvohost
