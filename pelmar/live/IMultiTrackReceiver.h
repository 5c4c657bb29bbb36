#pragma once

// IMultiTrackReceiver: a stage that consumes frames belonging to numbered tracks.
// Ownership: held by whoever created it, or through std::shared_ptr as another stage's output.
// Threads: thread-compatible.
// Errors: whatever PutFrameImpl and CloseImpl throw propagates unchanged.

namespace pelmar::live {

template <typename T>
class IMultiTrackReceiver {
public:
    IMultiTrackReceiver() = default;

    virtual ~IMultiTrackReceiver() = default;

    IMultiTrackReceiver(const IMultiTrackReceiver&) = delete;
    IMultiTrackReceiver& operator=(const IMultiTrackReceiver&) = delete;

    void PutFrame(T frame, unsigned track) { PutFrameImpl(frame, track); }

    void Close() { CloseImpl(); }

protected:
    virtual void PutFrameImpl(T frame, unsigned track) = 0;

    virtual void CloseImpl() = 0;
};

}  // namespace pelmar::live
