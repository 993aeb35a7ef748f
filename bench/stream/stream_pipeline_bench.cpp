// stream-pipeline-bench: the whole streaming path of the encoder application (device wait and
// reads, checks, queues, NDI send) against the encoder-device simulator serving pre-encoded
// 2160-line pictures, with a real NDI receiver connected. Reports pictures per second, the pictures
// lost on the way and the CPU time per picture.
//
// The pipeline's process is pinned to one core. The simulator and the receiver run in processes of
// their own, so the CPU time measured is the pipeline's alone (frame thread, send threads and the
// NDI sender's I/O).
//
//   stream-pipeline-bench [--seconds N] [--rate R]     (R pictures per second, 0 = unpaced)

#include <pthread.h>
#include <sched.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <string>
#include <thread>

#include "NdiTransmitter/NdiTransmitter.h"
#include "support/speedhq_sim.h"
#include "support/temp_board_root.h"
#include "vantor/file_io.h"

namespace {

struct Settings {
    int seconds = 10;
    std::string rate = "0";
};

double process_cpu_seconds()
{
    rusage usage{};
    ::getrusage(RUSAGE_SELF, &usage);
    const auto seconds = [](const timeval& t) {
        return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_usec) / 1e6;
    };
    return seconds(usage.ru_utime) + seconds(usage.ru_stime);
}

double thread_cpu_seconds(std::thread& thread)
{
    clockid_t clock = 0;
    timespec now{};
    if (pthread_getcpuclockid(thread.native_handle(), &clock) != 0 ||
        clock_gettime(clock, &now) != 0) {
        return 0.0;
    }
    return static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_nsec) / 1e9;
}

// The receiving process: waits for the sender's address on `address_fd`, receives program
// pictures until none has come for two seconds after the first, and writes their count to
// `result_fd`.
int run_receiver(int address_fd, int result_fd)
{
    char address[256] = {};
    if (::read(address_fd, address, sizeof(address) - 1) <= 0 || !NDIlib_initialize()) {
        return 1;
    }
    const NDIlib_recv_create_v3_t create(NDIlib_source_t(nullptr, address),
                                         NDIlib_recv_bandwidth_highest, "stream bench");
    NDIlib_recv_instance_t receiver = NDIlib_recv_create_v3(&create);
    long received = 0;
    int idle_rounds = 0;
    while (idle_rounds < (received > 0 ? 20 : 300)) {
        NDIlib_video_frame_v2_t frame;
        if (NDIlib_recv_capture_v2(receiver, &frame, nullptr, nullptr, 100) ==
            NDIlib_frame_type_video) {
            ++received;
            idle_rounds = 0;
            NDIlib_recv_free_video_v2(receiver, &frame);
        } else {
            ++idle_rounds;
        }
    }
    NDIlib_recv_destroy(receiver);
    NDIlib_destroy();
    const std::string line = std::to_string(received);
    return vantor::write_all(result_fd, line) ? 0 : 1;
}

bool parse(int argc, char** argv, Settings& settings)
{
    for (int i = 1; i + 1 < argc; i += 2) {
        if (std::strcmp(argv[i], "--seconds") == 0) {
            settings.seconds = std::atoi(argv[i + 1]);
        } else if (std::strcmp(argv[i], "--rate") == 0) {
            settings.rate = argv[i + 1];
        } else {
            return false;
        }
    }
    return argc % 2 == 1 && settings.seconds > 0;
}

}  // namespace

int main(int argc, char** argv)
{
    // The benchmark's sender listens on the loopback interface only.
    ::setenv("VANTOR_NDI_ADDRESS", "127.0.0.1", 1);
    Settings settings;
    if (!parse(argc, argv, settings)) {
        std::fprintf(stderr, "usage: stream-pipeline-bench [--seconds N] [--rate R]\n");
        return 2;
    }
    int address_pipe[2];
    int result_pipe[2];
    if (::pipe(address_pipe) != 0 || ::pipe(result_pipe) != 0) {
        return 1;
    }
    // The receiver is forked before any thread exists.
    const pid_t child = ::fork();
    if (child == 0) {
        ::close(address_pipe[1]);
        ::close(result_pipe[0]);
        ::_exit(run_receiver(address_pipe[0], result_pipe[1]));
    }
    ::close(address_pipe[0]);
    ::close(result_pipe[1]);

    vantor::test::TempBoardRoot board;
    board.make_dir("/dev");
    vantor::test::SpeedHqSimProcess sim(VANTOR_BIN_DIR, board / "/dev/vantor-speedhq",
                                        {"--rate", settings.rate});
    if (!sim.ready()) {
        std::fprintf(stderr, "stream-pipeline-bench: speedhq-sim did not start\n");
        return 1;
    }
    // The pipeline on one core: this process's threads all inherit the mask.
    cpu_set_t one_core;
    CPU_ZERO(&one_core);
    CPU_SET(0, &one_core);
    if (::sched_setaffinity(0, sizeof(one_core), &one_core) != 0) {
        std::perror("sched_setaffinity");
    }

    NDIlib_initialize();
    NdiTransmitter tx;
    const NDIlib_send_create_t create("stream bench");
    tx.ndi_tx_inst = NDIlib_send_create_v2(&create);
    const std::string address = NDIlib_send_get_source_name(tx.ndi_tx_inst)->p_url_address;
    vantor::write_all(address_pipe[1], address);
    ::close(address_pipe[1]);
    NDIlib_send_get_no_connections(tx.ndi_tx_inst, 10000);

    std::fprintf(stderr, "stream-pipeline-bench: 2160p29.97 pictures, simulator rate %s\n",
                 settings.rate.c_str());
    // The printed lines of the pipeline go to /dev/null while it runs.
    std::fflush(stdout);
    const int saved_stdout = ::dup(STDOUT_FILENO);
    std::freopen("/dev/null", "w", stdout);

    tx.map_NdiTransmitter_mem(0);
    tx.start_encode(52, 0);
    // Measure from the first picture queued after the start-up discard.
    while (tx.FrameSentCount.load() <= tx.init_frame_drop_count) {
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    const int frames_before = tx.FrameSentCount.load();
    const double cpu_before = process_cpu_seconds();
    const double frame_cpu_before = thread_cpu_seconds(tx.wait_ndi_frame_thread);
    const auto started = std::chrono::steady_clock::now();
    std::this_thread::sleep_for(std::chrono::seconds(settings.seconds));
    const int frames = tx.FrameSentCount.load() - frames_before;
    const double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
    const double cpu = process_cpu_seconds() - cpu_before;
    const double frame_cpu = thread_cpu_seconds(tx.wait_ndi_frame_thread) - frame_cpu_before;
    tx.stop_encode();
    const int queued = tx.FrameSentCount.load() - tx.init_frame_drop_count;
    tx.unmap_NdiTransmitter_mem();
    const int picture_size =
        tx.m_prev_video_frame[1] ? tx.m_prev_video_frame[1]->frame_data_size : 0;

    std::fflush(stdout);
    ::dup2(saved_stdout, STDOUT_FILENO);
    ::close(saved_stdout);

    char result[64] = {};
    const ssize_t n = ::read(result_pipe[0], result, sizeof(result) - 1);
    int status = 0;
    ::waitpid(child, &status, 0);
    NDIlib_send_destroy(tx.ndi_tx_inst);  // the pictures it may still use go with tx
    tx.ndi_tx_inst = nullptr;
    NDIlib_destroy();
    const long received = n > 0 ? std::atol(result) : -1;

    std::printf("pictures through the pipeline: %.1f per second (%d in %.2f s)\n", frames / seconds,
                frames, seconds);
    std::printf("program picture: %d bytes\n", picture_size);
    std::printf(
        "program pictures after the start-up discard: %d accepted, %ld received, %ld lost\n",
        queued, received, static_cast<long>(queued) - received);
    std::printf("CPU per picture: %.3f ms in the process, %.3f ms in the frame thread\n",
                frames > 0 ? cpu * 1000.0 / frames : 0.0,
                frames > 0 ? frame_cpu * 1000.0 / frames : 0.0);
    std::printf("one core at this cost: %.0f pictures per second\n",
                cpu > 0.0 ? frames / cpu : 0.0);
    return 0;
}
