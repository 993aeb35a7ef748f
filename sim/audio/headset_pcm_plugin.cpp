// The virtual board's headset input as ALSA sees a sound card's capture driver: an ALSA I/O plugin
// (pcm type "vtrheadset", loaded from the board's configuration) whose samples come from the FIFO
// audio-sim writes, one 10 ms block every 10 ms, as a codec's samples come from its serial port.
//
// Like a driver, it moves its hardware position in whole periods only (a period interrupt): a
// reader waiting on it wakes once per period, and a period of 2880 frames hands over six 10 ms
// blocks at once every 60 ms. Samples the reader has not taken when a period more would not fit
// the buffer are an overrun: the stream stops and the next read returns -EPIPE. A FIFO whose writer
// goes away after delivering (audio-sim's "unplug") is a lost device: the stream ends in an error
// that preparing again cannot clear, and opening fails with -ENODEV while the marker file
// "<fifo>.unplugged" exists. A FIFO that stays open and delivers nothing (audio-sim's "stop") is a
// driver that stops interrupting: a blocking read waits for ever.

#include <alsa/asoundlib.h>
#include <alsa/pcm_external.h>
#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstring>
#include <new>
#include <string>
#include <vector>

namespace {

constexpr unsigned int kRate = 48000;
constexpr unsigned int kChannels = 2;
constexpr unsigned int kFrameBytes = kChannels * 3;  // S24_3LE

struct Headset {
    snd_pcm_ioplug_t io{};
    std::string fifo;
    int fd = -1;
    std::vector<std::uint8_t> ring;     // buffer_size frames, indexed by position % buffer_size
    std::vector<std::uint8_t> pending;  // bytes read from the FIFO, not yet a whole period
    snd_pcm_uframes_t written = 0;      // frames the "hardware" has delivered since prepare
    snd_pcm_uframes_t taken = 0;        // frames the reader has taken since prepare
    bool running = false;
    bool overrun = false;
    bool delivered = false;  // the FIFO has had a writer since the device was opened
    bool lost = false;
};

Headset* headset_of(snd_pcm_ioplug_t* io)
{
    return static_cast<Headset*>(io->private_data);
}

// Reads what the FIFO holds and moves whole periods into the ring, as a period interrupt would.
void take_in(Headset& h)
{
    if (h.lost || h.fd < 0) {
        return;
    }
    std::uint8_t chunk[8192];
    for (;;) {
        const ssize_t got = ::read(h.fd, chunk, sizeof chunk);
        if (got > 0) {
            h.delivered = true;
            if (h.running) {
                h.pending.insert(h.pending.end(), chunk, chunk + got);
            }
            continue;
        }
        if (got == 0 && h.delivered) {
            h.lost = true;  // the writer went away: the card is gone
        }
        break;  // EAGAIN: nothing more now; 0 before any writer: nothing yet
    }
    const std::size_t period_bytes = h.io.period_size * kFrameBytes;
    const snd_pcm_uframes_t buffer = h.io.buffer_size;
    while (h.running && period_bytes > 0 && h.pending.size() >= period_bytes) {
        if (h.written + h.io.period_size - h.taken > buffer) {
            // No room for the period: the samples are lost and the stream stops.
            h.overrun = true;
            h.pending.clear();
            return;
        }
        for (std::size_t i = 0; i < h.io.period_size; ++i) {
            const std::size_t at = ((h.written + i) % buffer) * kFrameBytes;
            std::memcpy(&h.ring[at], &h.pending[i * kFrameBytes], kFrameBytes);
        }
        h.written += h.io.period_size;
        h.pending.erase(h.pending.begin(),
                        h.pending.begin() + static_cast<std::ptrdiff_t>(period_bytes));
        // audio-sim's "overrun": the reader is taken to have fallen behind at this period.
        if (::unlink((h.fifo + ".overrun").c_str()) == 0) {
            h.overrun = true;
            h.pending.clear();
            return;
        }
    }
}

int headset_start(snd_pcm_ioplug_t* io)
{
    Headset& h = *headset_of(io);
    h.running = true;
    return h.lost ? -ENODEV : 0;
}

int headset_stop(snd_pcm_ioplug_t* io)
{
    headset_of(io)->running = false;
    return 0;
}

int headset_prepare(snd_pcm_ioplug_t* io)
{
    Headset& h = *headset_of(io);
    if (h.lost) {
        return -ENODEV;
    }
    h.ring.assign(io->buffer_size * kFrameBytes, 0);
    h.pending.clear();
    h.written = 0;
    h.taken = 0;
    h.overrun = false;
    h.running = false;
    return 0;
}

snd_pcm_sframes_t headset_pointer(snd_pcm_ioplug_t* io)
{
    Headset& h = *headset_of(io);
    take_in(h);
    if (h.lost) {
        return -ENODEV;
    }
    if (h.overrun) {
        return -EPIPE;
    }
    return static_cast<snd_pcm_sframes_t>(h.written % io->buffer_size);
}

snd_pcm_sframes_t headset_transfer(snd_pcm_ioplug_t* io, const snd_pcm_channel_area_t* areas,
                                   snd_pcm_uframes_t offset, snd_pcm_uframes_t size)
{
    Headset& h = *headset_of(io);
    // Interleaved: one area holds every channel.
    auto* target = static_cast<std::uint8_t*>(areas[0].addr) +
                   (areas[0].first + static_cast<std::size_t>(areas[0].step) * offset) / 8;
    const snd_pcm_uframes_t count = std::min<snd_pcm_uframes_t>(size, h.written - h.taken);
    for (snd_pcm_uframes_t i = 0; i < count; ++i) {
        const std::size_t at = ((h.taken + i) % io->buffer_size) * kFrameBytes;
        std::memcpy(target + i * kFrameBytes, &h.ring[at], kFrameBytes);
    }
    h.taken += count;
    return static_cast<snd_pcm_sframes_t>(count);
}

int headset_poll_revents(snd_pcm_ioplug_t* io, struct pollfd* /*pfds*/, unsigned int /*nfds*/,
                         unsigned short* revents)
{
    Headset& h = *headset_of(io);
    take_in(h);
    if (h.lost || h.overrun) {
        // The state first, so that the waiting reader gets the error of it: -ENODEV or -EPIPE.
        snd_pcm_ioplug_set_state(io, h.lost ? SND_PCM_STATE_DISCONNECTED : SND_PCM_STATE_XRUN);
        *revents = POLLIN | POLLERR;
    } else {
        // Readable once a whole period has come in: the reader wakes per period.
        *revents = h.written - h.taken >= io->period_size ? POLLIN : 0;
    }
    return 0;
}

int headset_close(snd_pcm_ioplug_t* io)
{
    Headset* h = headset_of(io);
    if (h->fd >= 0) {
        ::close(h->fd);
    }
    delete h;
    return 0;
}

const snd_pcm_ioplug_callback_t kCallbacks = [] {
    snd_pcm_ioplug_callback_t callbacks{};
    callbacks.start = headset_start;
    callbacks.stop = headset_stop;
    callbacks.pointer = headset_pointer;
    callbacks.transfer = headset_transfer;
    callbacks.close = headset_close;
    callbacks.prepare = headset_prepare;
    callbacks.poll_revents = headset_poll_revents;
    return callbacks;
}();

// The ranges the device takes, as a codec's DMA: periods of 1 ms to 1 s, a buffer of 2 to 64
// periods and at most 2 s.
struct Range {
    int parameter;
    unsigned int min;
    unsigned int max;
};
constexpr Range kRanges[] = {
    {SND_PCM_IOPLUG_HW_CHANNELS, kChannels, kChannels},
    {SND_PCM_IOPLUG_HW_RATE, kRate, kRate},
    {SND_PCM_IOPLUG_HW_PERIOD_BYTES, 48 * kFrameBytes, kRate* kFrameBytes},
    {SND_PCM_IOPLUG_HW_PERIODS, 2, 64},
    {SND_PCM_IOPLUG_HW_BUFFER_BYTES, 96 * kFrameBytes, 2 * kRate* kFrameBytes},
};

int set_constraints(snd_pcm_ioplug_t* io)
{
    const unsigned int access[] = {SND_PCM_ACCESS_RW_INTERLEAVED};
    const unsigned int formats[] = {SND_PCM_FORMAT_S24_3LE};
    int rc = snd_pcm_ioplug_set_param_list(io, SND_PCM_IOPLUG_HW_ACCESS, 1, access);
    if (rc >= 0) {
        rc = snd_pcm_ioplug_set_param_list(io, SND_PCM_IOPLUG_HW_FORMAT, 1, formats);
    }
    for (const Range& range : kRanges) {
        if (rc >= 0) {
            rc = snd_pcm_ioplug_set_param_minmax(io, range.parameter, range.min, range.max);
        }
    }
    return rc;
}

}  // namespace

extern "C" {

// pcm.NAME { type vtrheadset  fifo "/path/to/fifo" }
SND_PCM_PLUGIN_DEFINE_FUNC(vtrheadset)
{
    std::string fifo;
    snd_config_iterator_t i;
    snd_config_iterator_t next;
    snd_config_for_each(i, next, conf)
    {
        snd_config_t* entry = snd_config_iterator_entry(i);
        const char* id = nullptr;
        if (snd_config_get_id(entry, &id) < 0) {
            continue;
        }
        const std::string key = id;
        if (key == "comment" || key == "type" || key == "hint") {
            continue;
        }
        const char* value = nullptr;
        if (key == "fifo" && snd_config_get_string(entry, &value) >= 0) {
            fifo = value;
            continue;
        }
        SNDERR("vtrheadset: unknown field %s", id);
        return -EINVAL;
    }
    if (fifo.empty() || stream != SND_PCM_STREAM_CAPTURE) {
        SNDERR("vtrheadset: a capture device with a fifo is needed");
        return -EINVAL;
    }
    if (::access((fifo + ".unplugged").c_str(), F_OK) == 0) {
        return -ENODEV;
    }
    auto* h = new (std::nothrow) Headset();
    if (h == nullptr) {
        return -ENOMEM;
    }
    h->fifo = fifo;
    h->fd = ::open(fifo.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (h->fd < 0) {
        const int error = errno;
        delete h;
        return error == ENOENT ? -ENODEV : -error;
    }
    h->io.version = SND_PCM_IOPLUG_VERSION;
    h->io.name = "virtual board headset input";
    h->io.mmap_rw = 0;
    h->io.callback = &kCallbacks;
    h->io.private_data = h;
    h->io.poll_fd = h->fd;
    h->io.poll_events = POLLIN;
    int rc = snd_pcm_ioplug_create(&h->io, name, stream, mode);
    if (rc < 0) {
        ::close(h->fd);
        delete h;
        return rc;
    }
    rc = set_constraints(&h->io);
    if (rc < 0) {
        snd_pcm_ioplug_delete(&h->io);  // calls close, which frees h
        return rc;
    }
    *pcmp = h->io.pcm;
    return 0;
}

SND_PCM_PLUGIN_SYMBOL(vtrheadset);
}
