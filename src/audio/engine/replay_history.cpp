#include "audio/engine/replay_history.h"

#include <algorithm>
#include <cstring>

void ReplayHistory::Reserve(uint32_t capacityFrames, uint32_t bytesPerFrame) {
    bytes.assign(static_cast<size_t>(capacityFrames) * bytesPerFrame, 0);
    frameBytes = bytesPerFrame;
    capacity = bytes.empty() ? 0 : capacityFrames;
    next = held = 0;
}

void ReplayHistory::Append(const unsigned char* data, uint32_t frames) {
    if (capacity == 0) {
        return;
    }
    // Of a write larger than the history only its newest frames are kept.
    if (frames > capacity) {
        data += static_cast<size_t>(frames - capacity) * frameBytes;
        frames = capacity;
    }
    const uint32_t first = std::min(frames, capacity - next);
    std::memcpy(bytes.data() + static_cast<size_t>(next) * frameBytes, data, static_cast<size_t>(first) * frameBytes);
    std::memcpy(bytes.data(), data + static_cast<size_t>(first) * frameBytes,
                static_cast<size_t>(frames - first) * frameBytes);
    next = (next + frames) % capacity;
    held = std::min(capacity, held + frames);
}

void ReplayHistory::CopyFrames(size_t fromFrame, uint32_t frames, unsigned char* out) const {
    std::memcpy(out, bytes.data() + fromFrame * frameBytes, static_cast<size_t>(frames) * frameBytes);
}

uint32_t ReplayHistory::CopyNewest(uint32_t frames, unsigned char* out) const {
    frames = std::min(frames, held);
    if (frames == 0) {
        return 0;
    }
    const uint32_t start = (next + capacity - frames) % capacity;
    const uint32_t first = std::min(frames, capacity - start);
    CopyFrames(start, first, out);
    CopyFrames(0, frames - first, out + static_cast<size_t>(first) * frameBytes);
    return frames;
}
