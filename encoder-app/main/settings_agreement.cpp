#include "main/settings_agreement.h"

settings_agreement::settings_agreement(const video_settings& first)
    : m_agreed(first), m_previous_read(first)
{
}

const video_settings& settings_agreement::pass(const std::optional<video_settings>& read)
{
    if (!read) {
        return m_agreed;
    }
    if (*read == m_previous_read) {
        m_agreed = *read;
    }
    m_previous_read = *read;
    return m_agreed;
}
