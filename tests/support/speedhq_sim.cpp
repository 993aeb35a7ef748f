#include "support/speedhq_sim.h"

#include <sstream>

namespace vantor::test {

std::vector<std::string> SpeedHqSimProcess::argv(const std::string& bin_dir,
                                                 const std::string& socket_path,
                                                 const std::vector<std::string>& extra)
{
    std::vector<std::string> args = {bin_dir + "/speedhq-sim", "--no-stdin", "--control",
                                     socket_path + ".control"};
    args.insert(args.end(), extra.begin(), extra.end());
    args.push_back(socket_path);
    return args;
}

// The control socket is created before the device socket, which appears once it accepts.
SpeedHqSimProcess::SpeedHqSimProcess(const std::string& bin_dir, const std::string& socket_path,
                                     const std::vector<std::string>& extra)
    : m_sim(argv(bin_dir, socket_path, extra), {socket_path + ".control", socket_path})
{
}

std::string SpeedHqSimProcess::command(const std::string& line)
{
    return m_sim.one_line(line, "error no reply");
}

std::vector<std::string> SpeedHqSimProcess::requests()
{
    std::istringstream in(command("requests"));
    std::vector<std::string> entries;
    std::string word;
    in >> word;  // "ok"
    while (in >> word) {
        entries.push_back(word);
    }
    return entries;
}

}  // namespace vantor::test
