#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "pelmar/live/IReceiver.h"
#include "pelmar/live/NetworkConnection.h"
#include "pelmar/live/RTMPChunkFormatter.h"
#include "pelmar/live/RTMPChunkParser.h"
#include "pelmar/live/RTMPPacket.h"
#include "pelmar/platform/sync/Mutex.h"

// RTMPPacketStream: the RTMP chunk stream over one connection: cuts outgoing messages into chunks
// and rebuilds incoming messages on a receiver thread of its own.
// Ownership: refers to the connection (owned by the caller; it must outlive the stream) and holds
//     the packet receiver (std::shared_ptr) and the error callback, both fixed at construction.
// Threads: thread-safe. The packet receiver and the error callback run on the receiver thread and
//     may send; the stream must not be destroyed from them.
// Errors: std::runtime_error from PutFrame: "network send data failed" / "network send timed out"
//     (the stream is then broken: every later send fails the same way, and the connection is shut
//     down so the receiver ends too), the formatter's "RTMP message too long" (nothing sent).
//     Receiver failures end the receiver thread: it prints "rtmp receiver error: " and the text,
//     and passes the text to the error callback, unless the owner is ending the stream (Close,
//     or ExpectHangUp before it): then the receiver ends quietly.
// Limits: kMaxIncomingChannels chunk streams from the peer (each may hold a message of up to 16
//     MiB, allocated as its bytes arrive); the peer's chunk size is capped at
//     kMaxIncomingChunkSize.

namespace pelmar::live {

class RTMPPacketStream : public IReceiver<RTMPPacket> {
public:
    static constexpr size_t kMaxIncomingChannels = 64;
    static constexpr size_t kMaxIncomingChunkSize = 0xFFFFFF;

    using ErrorCallback = std::function<void(const std::string&)>;

    // Starts the receiver thread, last.
    RTMPPacketStream(NetworkConnection& connection,
                     std::shared_ptr<IReceiver<RTMPPacket>> packetReceiver,
                     ErrorCallback onReceiverError = {});

    // Closes (joins the receiver thread). Never throws.
    ~RTMPPacketStream() override;

    // The peer's chunk size (incoming chunks); 128 at start.
    size_t ChunkSize() const { return chunkSize_.load(); }

    // Sets the peer's chunk size for incoming chunks of every chunk stream, from the next chunk
    // on. Our own chunks keep their size: each direction has its own. Throws
    // "invalid chunk size" for 0 or above kMaxIncomingChunkSize.
    void SetChunkSize(unsigned long n);

    // Our chunk size (outgoing chunks); 128 until AnnounceChunkSize.
    size_t OutgoingChunkSize() const;

    // Sends a Set Chunk Size message and cuts every later message, on every chunk stream, into
    // chunks of `size` bytes; no other message gets between the two. Throws "invalid chunk size"
    // for 0 or above kMaxIncomingChunkSize (nothing sent), else as PutFrame.
    void AnnounceChunkSize(uint32_t size);

    // Sends a Window Acknowledgement Size message: the peer is to acknowledge every `size`
    // bytes it receives from us. Throws as PutFrame.
    void AnnounceWindowAcknowledgementSize(uint32_t size);

    // The owner is ending the stream: the peer hanging up (or any receive failure) from now on is
    // the expected end, so the receiver ends without the error line and without the callback.
    void ExpectHangUp() { ending_.store(true); }

    // False once the receiver thread has ended (closed, peer gone, or an error).
    bool ReceiverRunning() const;

    // Waits up to `timeout` for the receiver thread to end; true when it has. On the receiver
    // thread itself it returns at once: the thread cannot end while it waits.
    bool WaitForReceiverEnd(std::chrono::milliseconds timeout) const;

protected:
    // Cuts the message into chunks (of the outgoing chunk size, one formatter per chunk stream)
    // and writes them to the socket in one piece, never interleaved with another message's.
    void PutFrameImpl(RTMPPacket packet) override;

    // Prints "closing packet stream", stops the receiver, shuts the connection down in both
    // directions and joins the receiver thread (from the receiver thread itself it only asks it to
    // stop). Later sends fail.
    void CloseImpl() override;

private:
    void ReceiverProc();

    void ReadRTMPChunk();

    // Protocol bookkeeping on incoming messages, then the packet receiver: answers the peer's
    // Window Acknowledgement Size with an Acknowledgement each time that many bytes have arrived,
    // answers its Set Peer Bandwidth with a Window Acknowledgement Size of that window (unless it
    // is the one announced last), and drops a half-received message on its Abort Message.
    void OnIncomingMessage(RTMPPacket packet);

    void SendAcknowledgementIfDue();

    void SendLocked(const RTMPPacket& packet) PELMAR_REQUIRES(sendMutex_);

    NetworkConnection& connection_;
    const std::shared_ptr<IReceiver<RTMPPacket>> packetReceiver_;
    const ErrorCallback onReceiverError_;

    // Covers everything on the send path (the outgoing formatters, the send buffer and the socket
    // writes), so the chunks of one message are written contiguously. Not held while the packet
    // receiver or the error callback runs.
    mutable Mutex sendMutex_;
    std::map<uint32_t, std::unique_ptr<RTMPChunkFormatter>> outgoing_ PELMAR_GUARDED_BY(sendMutex_);
    std::vector<uint8_t> sendBuffer_ PELMAR_GUARDED_BY(sendMutex_);
    bool sendFailed_ PELMAR_GUARDED_BY(sendMutex_) = false;
    std::optional<uint32_t> announcedWindow_ PELMAR_GUARDED_BY(sendMutex_);
    size_t outgoingChunkSize_ PELMAR_GUARDED_BY(sendMutex_) = kRTMPDefaultChunkSize;

    // Receiver thread only.
    std::shared_ptr<IReceiver<RTMPPacket>> incomingSink_;
    std::map<uint32_t, std::unique_ptr<RTMPChunkParser>> incoming_;
    uint64_t bytesReceived_ = 0;
    uint64_t acknowledgementWindow_ = 0;  // 0: the peer asked for none
    uint64_t bytesAcknowledged_ = 0;

    // Applied by the receiver before each chunk.
    std::atomic<size_t> chunkSize_{kRTMPDefaultChunkSize};
    std::atomic<bool> stopped_{false};
    std::atomic<bool> ending_{false};

    mutable Mutex doneMutex_;
    mutable CondVar doneChanged_;
    bool receiverDone_ PELMAR_GUARDED_BY(doneMutex_) = false;

    // Set by the receiver thread as it starts, so it can tell itself apart without reading
    // receiver_, which other threads assign and join.
    std::atomic<std::thread::id> receiverId_{};

    std::thread receiver_;
};

}  // namespace pelmar::live
