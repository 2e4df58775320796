#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

// The newest frames written to one target, byte for byte as they were
// written. One sound system throws a stream's whole queue away when its rate
// is changed; the frames it threw away are the newest written, and are queued
// again from here so that the change is not heard as a gap.
// Platform-free; one history per target, used by the redirect thread only.
class ReplayHistory {
public:
    // Sized when the target opens (until then nothing is kept); a size of 0
    // keeps nothing from then on.
    void Reserve(uint32_t capacityFrames, uint32_t frameBytes);

    // Keeps `frames` frames just written (the oldest held give way once the
    // history is full). Allocates nothing.
    void Append(const unsigned char* data, uint32_t frames);

    // Copies the newest `frames` frames, oldest first, into out (room for
    // that many frames). Returns how many were copied: at most Held().
    uint32_t CopyNewest(uint32_t frames, unsigned char* out) const;

    uint32_t Held() const { return held; }

private:
    void CopyFrames(size_t fromFrame, uint32_t frames, unsigned char* out) const;

    std::vector<unsigned char> bytes;
    size_t frameBytes = 0;
    uint32_t capacity = 0;  // frames
    uint32_t next = 0;      // the frame the next Append writes
    uint32_t held = 0;
};
