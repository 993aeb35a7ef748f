#include "HelperLib/command_output.h"

#include <cstdio>
#include <vector>

bool command_last_read(const char* command, int max_line_length, std::string& last)
{
    last.clear();
    if (command == nullptr || max_line_length <= 0) {
        return false;
    }
    // "e": the pipe is not inherited by other children the program starts meanwhile.
    FILE* output = ::popen(command, "re");
    if (output == nullptr) {
        return false;
    }
    std::vector<char> buffer(static_cast<std::size_t>(max_line_length) + 1U, '\0');
    while (std::fgets(buffer.data(), static_cast<int>(buffer.size()), output) != nullptr) {
        last = buffer.data();
    }
    (void)::pclose(output);
    return true;
}

std::string command_last_line(const char* command, int max_line_length)
{
    std::string last;
    if (!command_last_read(command, max_line_length, last)) {
        return {};
    }
    const std::string::size_type line_break = last.find('\n');
    if (line_break != std::string::npos) {
        last.erase(line_break);
    }
    return last;
}
