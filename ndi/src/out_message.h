#pragma once

// One message on its way from a sender to its receivers, shared by the queues of all connections.
// The picture data of an asynchronous video send is borrowed from the caller until the next send;
// `keep_own_copy` then moves what is still queued into memory of its own.

#include <sys/types.h>

#include <cstddef>
#include <cstdint>
#include <mutex>
#include <vector>

namespace vantor::ndi {

class OutMessage {
public:
    // The kinds a connection's queue bounds separately.
    enum class Kind { Control, Metadata, ProgramVideo, PreviewVideo, Audio };
    static constexpr std::size_t kKinds = 5;

    OutMessage(Kind kind, std::vector<std::uint8_t> head) : m_kind(kind), m_head(std::move(head)) {}
    OutMessage(const OutMessage&) = delete;
    OutMessage& operator=(const OutMessage&) = delete;

    Kind kind() const { return m_kind; }
    std::size_t size() const { return m_head.size() + m_body_size; }

    // The data after the head: borrowed (the caller keeps it valid until keep_own_copy returns) or
    // owned.
    void borrow_body(const std::uint8_t* data, std::size_t size);
    void own_body(std::vector<std::uint8_t> data);
    // Ends the borrowing: copies the data unless it is owned already. Waits for a send in progress.
    void keep_own_copy();
    // Ends the borrowing of a message that no queue holds any more: waits for a send still reading
    // the data, so the caller may reuse it as soon as this returns.
    void end_borrow();

    // Sends what follows `offset` on a non-blocking socket. Returns the bytes sent or -1 (errno).
    ssize_t send_from(int fd, std::size_t offset);

private:
    const Kind m_kind;
    const std::vector<std::uint8_t> m_head;
    std::mutex m_body_mutex;  // a send never reads the body while it is being replaced
    const std::uint8_t* m_body = nullptr;
    std::size_t m_body_size = 0;
    std::vector<std::uint8_t> m_owned;
};

}  // namespace vantor::ndi
