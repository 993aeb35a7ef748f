#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace vantor {

// Reads the whole of a regular file into `content`. Returns false (and leaves `content` empty) when
// the file cannot be opened, is not a regular file (a FIFO or device would block or never end) or a
// read fails. The path is used as given: resolve fixed system paths with board_path() first.
bool read_file(const std::string& path, std::string& content);

// Replaces the content of `path` so that a reader sees either the old or the new bytes, never a
// mixture or a truncated file, also across a crash or power cut:
//   the new bytes go to a temporary file in the same folder, are flushed to storage, get the
//   original file's permission bits (and owner, where permitted), and the temporary file is renamed
//   over the original; the folder is flushed so that the rename itself is durable.
// A symbolic link is followed and its target replaced, so the link stays in place. A file that does
// not exist yet is created with mode 0644. Returns false, with the original untouched and no
// temporary file left behind, when any step fails or the existing path is not a regular file.
bool replace_file_atomically(const std::string& path, std::string_view content);

// Writes all of `data` to `fd`, resuming after partial writes and EINTR. Returns false on error.
bool write_all(int fd, std::string_view data);

// Sends all `size` bytes on the socket `fd`, resuming after partial sends and EINTR. A peer that
// went away gives false with errno EPIPE, never SIGPIPE. Returns false (errno set by send) on
// error.
bool send_all(int fd, const void* data, std::size_t size);

}  // namespace vantor
