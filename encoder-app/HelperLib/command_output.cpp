#include "HelperLib/command_output.h"

#include <cstdio>
#include <vector>

std::string command_last_line(const char* command, int max_line_length)
{
    if (command == nullptr || max_line_length <= 0) {
        return {};
    }
    // "e": the pipe is not inherited by other children the program starts meanwhile.
    FILE* output = ::popen(command, "re");
    if (output == nullptr) {
        return {};
    }
    std::vector<char> buffer(static_cast<std::size_t>(max_line_length) + 1U, '\0');
    std::string last;
    while (std::fgets(buffer.data(), static_cast<int>(buffer.size()), output) != nullptr) {
        last = buffer.data();
    }
    (void)::pclose(output);
    const std::string::size_type line_break = last.find('\n');
    if (line_break != std::string::npos) {
        last.erase(line_break);
    }
    return last;
}
