#include "out_message.h"

#include <sys/socket.h>
#include <sys/uio.h>

namespace vantor::ndi {

void OutMessage::borrow_body(const std::uint8_t* data, std::size_t size)
{
    const std::lock_guard<std::mutex> lock(m_body_mutex);
    m_body = data;
    m_body_size = size;
}

void OutMessage::own_body(std::vector<std::uint8_t> data)
{
    const std::lock_guard<std::mutex> lock(m_body_mutex);
    m_owned = std::move(data);
    m_body = m_owned.data();
    m_body_size = m_owned.size();
}

void OutMessage::keep_own_copy()
{
    const std::lock_guard<std::mutex> lock(m_body_mutex);
    if (m_body_size == 0 || m_body == m_owned.data()) {
        return;
    }
    m_owned.assign(m_body, m_body + m_body_size);
    m_body = m_owned.data();
}

void OutMessage::end_borrow()
{
    const std::lock_guard<std::mutex> lock(m_body_mutex);
}

ssize_t OutMessage::send_from(int fd, std::size_t offset)
{
    const std::lock_guard<std::mutex> lock(m_body_mutex);
    iovec parts[2] = {};
    int count = 0;
    if (offset < m_head.size()) {
        parts[count].iov_base = const_cast<std::uint8_t*>(m_head.data() + offset);
        parts[count].iov_len = m_head.size() - offset;
        ++count;
        if (m_body_size > 0) {
            parts[count].iov_base = const_cast<std::uint8_t*>(m_body);
            parts[count].iov_len = m_body_size;
            ++count;
        }
    } else {
        const std::size_t body_offset = offset - m_head.size();
        parts[count].iov_base = const_cast<std::uint8_t*>(m_body + body_offset);
        parts[count].iov_len = m_body_size - body_offset;
        ++count;
    }
    msghdr message{};
    message.msg_iov = parts;
    message.msg_iovlen = static_cast<decltype(message.msg_iovlen)>(count);
    return ::sendmsg(fd, &message, MSG_DONTWAIT | MSG_NOSIGNAL);
}

}  // namespace vantor::ndi
