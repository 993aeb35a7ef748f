#include "support/camera_sim.h"

#include <sstream>

#include "support/wait_until.h"

namespace vantor::test {

std::vector<std::string> CameraSimProcess::argv(const std::string& bin_dir,
                                                const std::string& link_path,
                                                const std::string& control_path,
                                                const std::vector<std::string>& extra)
{
    std::vector<std::string> args = {bin_dir + "/camera-sim", "--link", link_path, "--control",
                                     control_path};
    args.insert(args.end(), extra.begin(), extra.end());
    return args;
}

CameraSimProcess::CameraSimProcess(const std::string& bin_dir, const std::string& link_path,
                                   const std::string& control_path,
                                   const std::vector<std::string>& extra)
    : m_sim(argv(bin_dir, link_path, control_path, extra),
            {control_path, control_path, /*keep_output=*/true})
{
}

std::string CameraSimProcess::command(const std::string& line)
{
    // The answer is complete with its last line: "ok" or an error.
    const auto complete = [](const std::string& answer) {
        if (answer.empty() || answer.back() != '\n') {
            return false;
        }
        const size_t start = answer.rfind('\n', answer.size() > 1 ? answer.size() - 2 : 0);
        const std::string last = answer.substr(start == std::string::npos ? 0 : start + 1);
        return last == "ok\n" || last.rfind("error: ", 0) == 0;
    };
    bool failed = false;
    const std::string answer = m_sim.exchange(line, complete, failed);
    return failed ? "error: no simulator\n" : answer;
}

bool CameraSimProcess::ok(const std::string& line)
{
    return command(line) == "ok\n";
}

std::vector<std::string> CameraSimProcess::history()
{
    std::vector<std::string> lines;
    std::istringstream in(command("history"));
    for (std::string line; std::getline(in, line);) {
        if (line != "ok") {
            lines.push_back(line);
        }
    }
    return lines;
}

std::map<std::string, std::string> CameraSimProcess::state()
{
    std::map<std::string, std::string> values;
    std::istringstream in(command("state"));
    for (std::string line; std::getline(in, line);) {
        const size_t eq = line.find('=');
        if (eq != std::string::npos) {
            values[line.substr(0, eq)] = line.substr(eq + 1);
        }
    }
    return values;
}

bool CameraSimProcess::wait_line_idle(std::chrono::milliseconds deadline)
{
    return wait_until(
        [&] {
            const auto s = state();
            return s.count("line_busy") != 0 && s.at("line_busy") == "0";
        },
        deadline, std::chrono::milliseconds(5));
}

}  // namespace vantor::test
