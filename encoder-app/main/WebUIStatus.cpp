#include "main/WebUIStatus.h"

#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>

#include <mutex>

#include "vantor/board_root.h"
#include "vantor/file_io.h"
#include "vantor/unique_fd.h"

namespace {

struct FormatText {
    int code;
    const char* resolution;
    const char* rate;
};

// Display codes with a dashboard text. The 23.976 Hz formats read "23.97".
constexpr FormatText kFormatTexts[] = {
    {1, "1080p", "23.97"},  {2, "1080p", "24"},     {3, "1080p", "25"},     {4, "1080p", "29.97"},
    {5, "1080p", "30"},     {6, "720p", "50"},      {7, "720p", "59.94"},   {8, "720p", "60"},
    {19, "1080i", "50"},    {20, "1080i", "59.94"}, {21, "1080i", "60"},    {41, "1080p", "50"},
    {42, "1080p", "59.94"}, {43, "1080p", "60"},    {49, "2160p", "23.97"}, {50, "2160p", "24"},
    {51, "2160p", "25"},    {52, "2160p", "29.97"}, {53, "2160p", "30"},
};

std::string status_object(const std::string& text)
{
    return R"({"dashboard_vid_input":")" + text + R"("})";
}

bool write_to_pipe(const std::string& path, const std::string& object)
{
    // Non-blocking: with no reader the open fails with ENXIO at once instead of waiting for one.
    vantor::UniqueFd fd(::open(path.c_str(), O_WRONLY | O_NONBLOCK | O_CLOEXEC));
    if (!fd) {
        return false;
    }
    // A reader gone since the open gives EPIPE (the program does not die of SIGPIPE), a full pipe
    // EAGAIN: either way the object is not delivered.
    const ssize_t n = ::write(fd.get(), object.data(), object.size());
    return n == static_cast<ssize_t>(object.size());
}

bool deliver(const std::string& object)
{
    const std::string path = vantor::board_path(kWebUIStatusPath);
    struct stat st {};
    if (::stat(path.c_str(), &st) == 0 && S_ISFIFO(st.st_mode)) {
        return write_to_pipe(path, object);
    }
    return vantor::replace_file_atomically(path, object);
}

// The last object not delivered; empty when every object arrived. The main thread writes the
// status; the lock keeps any other caller safe.
std::mutex undelivered_mutex;
std::string undelivered;

// Delivers the kept object, if any; true when none is left. Called with the lock held.
bool deliver_kept()
{
    if (!undelivered.empty() && deliver(undelivered)) {
        undelivered.clear();
    }
    return undelivered.empty();
}

}  // namespace

std::string webui_format_text(int display_vid_format, int current_vid_format,
                              int encoder_pix_format_420)
{
    std::string text = "NO INPUT/";
    for (const FormatText& entry : kFormatTexts) {
        if (entry.code == display_vid_format) {
            text = std::string(entry.resolution) + entry.rate;
            break;
        }
    }
    if (current_vid_format != 0) {
        text += encoder_pix_format_420 == 1 ? "-420" : "-422";
    }
    return text;
}

bool write_webui_status(const std::string& text)
{
    const std::lock_guard<std::mutex> lock(undelivered_mutex);
    undelivered = status_object(text);
    return deliver_kept();
}

bool retry_webui_status()
{
    const std::lock_guard<std::mutex> lock(undelivered_mutex);
    return deliver_kept();
}

void updateWebUIstart()
{
    (void)write_webui_status("CAMERA-INITIALISING");
}

void updateWebUIformat()
{
    (void)write_webui_status("CAMERA-SETTING-FORMAT");
}

void updateWebUIStatus(int display_vid_format, int current_vid_format, int encoder_pix_format_420)
{
    (void)write_webui_status(
        webui_format_text(display_vid_format, current_vid_format, encoder_pix_format_420));
}
