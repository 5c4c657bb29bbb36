#pragma once

// IReceiver: the consuming end of every stage of the streaming library; frames go in by value
// through PutFrame and the stage is shut down through Close.
// Ownership: stages are held through std::shared_ptr when they are another stage's output.
// Threads: thread-compatible; a chain is driven by one thread at a time, and that thread runs every
//          stage down to the end of the chain within the call.
// Errors: whatever the stage's PutFrameImpl and CloseImpl throw propagates unchanged.

namespace pelmar::live {

template <typename T>
class IReceiver {
public:
    IReceiver() = default;

    virtual ~IReceiver() = default;

    IReceiver(const IReceiver&) = delete;
    IReceiver& operator=(const IReceiver&) = delete;

    // Hands a copy of the frame handle (sharing its data) to the stage.
    void PutFrame(T frame) { PutFrameImpl(frame); }

    // Keeps no state of its own: what a stage does with frames after Close is up to the stage.
    void Close() { CloseImpl(); }

protected:
    virtual void PutFrameImpl(T frame) = 0;

    virtual void CloseImpl() = 0;
};

}  // namespace pelmar::live
