// The runtime's calls for senders, on top of vantor::ndi::Sender.

#include <atomic>

#include "Processing.NDI.Lib.h"
#include "frame_size.h"
#include "sender.h"
#include "vantor_ndi_test_hook.h"

using vantor::ndi::Sender;

namespace {

std::atomic<vantor_ndi_video_send_observer> g_video_send_observer{nullptr};

Sender* sender_of(NDIlib_send_instance_t instance)
{
    return reinterpret_cast<Sender*>(instance);
}

}  // namespace

bool NDIlib_initialize()
{
    return true;
}

void NDIlib_destroy() {}

NDIlib_send_instance_t NDIlib_send_create_v2(const NDIlib_send_create_t* p_create_settings,
                                             const char* p_config_data)
{
    const NDIlib_send_create_t defaults;
    std::unique_ptr<Sender> sender =
        Sender::create(p_create_settings != nullptr ? *p_create_settings : defaults, p_config_data);
    return reinterpret_cast<NDIlib_send_instance_t>(sender.release());
}

NDIlib_send_instance_t NDIlib_send_create(const NDIlib_send_create_t* p_create_settings)
{
    return NDIlib_send_create_v2(p_create_settings, nullptr);
}

void NDIlib_send_destroy(NDIlib_send_instance_t p_instance)
{
    delete sender_of(p_instance);
}

void vantor_ndi_set_video_send_observer(vantor_ndi_video_send_observer observer)
{
    g_video_send_observer.store(observer);
}

int64_t vantor_ndi_send_get_copies(NDIlib_send_instance_t p_instance)
{
    return p_instance != nullptr ? sender_of(p_instance)->copies() : 0;
}

void NDIlib_send_send_video_async_v2(NDIlib_send_instance_t p_instance,
                                     const NDIlib_video_frame_v2_t* p_video_data)
{
    if (const vantor_ndi_video_send_observer observer = g_video_send_observer.load()) {
        observer(p_video_data);
    }
    if (p_instance != nullptr) {
        sender_of(p_instance)->send_video_async(p_video_data);
    }
}

void NDIlib_send_send_video_v2(NDIlib_send_instance_t p_instance,
                               const NDIlib_video_frame_v2_t* p_video_data)
{
    if (p_instance != nullptr && p_video_data != nullptr) {
        sender_of(p_instance)->send_video(*p_video_data);
    }
}

void NDIlib_util_send_send_audio_interleaved_32f(
    NDIlib_send_instance_t p_instance, const NDIlib_audio_frame_interleaved_32f_t* p_audio_data)
{
    if (p_instance != nullptr && p_audio_data != nullptr) {
        sender_of(p_instance)->send_audio(*p_audio_data);
    }
}

void NDIlib_send_send_metadata(NDIlib_send_instance_t p_instance,
                               const NDIlib_metadata_frame_t* p_metadata)
{
    if (p_instance != nullptr && p_metadata != nullptr) {
        sender_of(p_instance)->send_metadata(*p_metadata);
    }
}

NDIlib_frame_type_e NDIlib_send_capture(NDIlib_send_instance_t p_instance,
                                        NDIlib_metadata_frame_t* p_metadata, uint32_t timeout_in_ms)
{
    if (p_instance == nullptr) {
        return NDIlib_frame_type_none;
    }
    return sender_of(p_instance)->capture(p_metadata, timeout_in_ms);
}

void NDIlib_send_free_metadata(NDIlib_send_instance_t /*p_instance*/,
                               const NDIlib_metadata_frame_t* p_metadata)
{
    if (p_metadata != nullptr) {
        delete[] p_metadata->p_data;
    }
}

bool NDIlib_send_get_tally(NDIlib_send_instance_t p_instance, NDIlib_tally_t* p_tally,
                           uint32_t timeout_in_ms)
{
    if (p_instance == nullptr || p_tally == nullptr) {
        return false;
    }
    return sender_of(p_instance)->get_tally(*p_tally, timeout_in_ms);
}

int NDIlib_send_get_no_connections(NDIlib_send_instance_t p_instance, uint32_t timeout_in_ms)
{
    if (p_instance == nullptr) {
        return 0;
    }
    return sender_of(p_instance)->connections(timeout_in_ms);
}

void NDIlib_send_add_connection_metadata(NDIlib_send_instance_t p_instance,
                                         const NDIlib_metadata_frame_t* p_metadata)
{
    if (p_instance != nullptr && p_metadata != nullptr) {
        sender_of(p_instance)->add_connection_metadata(*p_metadata);
    }
}

void NDIlib_send_clear_connection_metadata(NDIlib_send_instance_t p_instance)
{
    if (p_instance != nullptr) {
        sender_of(p_instance)->clear_connection_metadata();
    }
}

void NDIlib_send_set_failover(NDIlib_send_instance_t p_instance,
                              const NDIlib_source_t* p_failover_source)
{
    if (p_instance != nullptr) {
        sender_of(p_instance)->set_failover(p_failover_source);
    }
}

const NDIlib_source_t* NDIlib_send_get_source_name(NDIlib_send_instance_t p_instance)
{
    if (p_instance == nullptr) {
        return nullptr;
    }
    return sender_of(p_instance)->source();
}

int NDIlib_send_get_target_frame_size(NDIlib_send_instance_t /*p_instance*/,
                                      const NDIlib_video_frame_v2_t* p_video_data)
{
    if (p_video_data == nullptr) {
        return 0;
    }
    return vantor::ndi::target_frame_size(p_video_data->xres, p_video_data->yres,
                                          p_video_data->frame_rate_N, p_video_data->frame_rate_D);
}
