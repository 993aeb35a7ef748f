#include <cstdlib>

// NDI senders listen on every interface unless VANTOR_NDI_ADDRESS names one, and so do the
// camera-control UDP services unless VANTOR_BIND_ADDRESS does. A test must never listen on the
// machine's real network, so every test executable sets the loopback interface before its first
// test runs (and the programs it starts inherit it). A test that needs another address (inside a
// network namespace of its own, or a loopback address of its own) sets it for itself.
namespace {

const bool kLoopbackOnly = [] {
    ::setenv("VANTOR_NDI_ADDRESS", "127.0.0.1", 1);
    ::setenv("VANTOR_BIND_ADDRESS", "127.0.0.1", 1);
    return true;
}();

}  // namespace
