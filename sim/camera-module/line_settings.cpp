#include "line_settings.h"

namespace camsim {

namespace {

// One flag (or field) of the settings and the value it must have.
struct FlagRule {
    const char* name;
    tcflag_t termios::*field;
    tcflag_t mask;
    tcflag_t required;
};

const FlagRule kRules[] = {
    {"char-size", &termios::c_cflag, CSIZE, CS8},
    {"parity", &termios::c_cflag, PARENB, 0},
    {"two-stop-bits", &termios::c_cflag, CSTOPB, 0},
    {"crtscts", &termios::c_cflag, CRTSCTS, 0},
    {"no-cread", &termios::c_cflag, CREAD, CREAD},
    {"ixon", &termios::c_iflag, IXON, 0},
    {"ixoff", &termios::c_iflag, IXOFF, 0},
    {"ixany", &termios::c_iflag, IXANY, 0},
    {"icrnl", &termios::c_iflag, ICRNL, 0},
    {"inlcr", &termios::c_iflag, INLCR, 0},
    {"igncr", &termios::c_iflag, IGNCR, 0},
    {"istrip", &termios::c_iflag, ISTRIP, 0},
    {"inpck", &termios::c_iflag, INPCK, 0},
    {"parmrk", &termios::c_iflag, PARMRK, 0},
    {"opost", &termios::c_oflag, OPOST, 0},
    {"icanon", &termios::c_lflag, ICANON, 0},
    {"echo", &termios::c_lflag, ECHO, 0},
    {"isig", &termios::c_lflag, ISIG, 0},
};

void add(std::string& reasons, const char* name)
{
    if (!reasons.empty()) {
        reasons += ',';
    }
    reasons += name;
}

}  // namespace

std::string line_settings_fault(const termios& settings)
{
    std::string reasons;
    if (::cfgetispeed(&settings) != B9600) {
        add(reasons, "input-speed");
    }
    if (::cfgetospeed(&settings) != B9600) {
        add(reasons, "output-speed");
    }
    for (const FlagRule& rule : kRules) {
        if ((settings.*rule.field & rule.mask) != rule.required) {
            add(reasons, rule.name);
        }
    }
    return reasons;
}

}  // namespace camsim
