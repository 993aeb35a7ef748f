// The runtime's calls for receivers, on top of vantor::ndi::Receiver.

#include "Processing.NDI.Lib.h"
#include "codec.h"
#include "receiver.h"

using vantor::ndi::Receiver;

namespace {

Receiver* receiver_of(NDIlib_recv_instance_t instance)
{
    return reinterpret_cast<Receiver*>(instance);
}

}  // namespace

NDIlib_recv_instance_t NDIlib_recv_create_v3(const NDIlib_recv_create_v3_t* p_create_settings)
{
    if (p_create_settings == nullptr) {
        return nullptr;
    }
    const NDIlib_source_t& source = p_create_settings->source_to_connect_to;
    if ((source.p_ndi_name == nullptr || *source.p_ndi_name == '\0') &&
        (source.p_url_address == nullptr || *source.p_url_address == '\0')) {
        return nullptr;
    }
    return reinterpret_cast<NDIlib_recv_instance_t>(new Receiver(*p_create_settings));
}

void NDIlib_recv_destroy(NDIlib_recv_instance_t p_instance)
{
    delete receiver_of(p_instance);
}

NDIlib_frame_type_e NDIlib_recv_capture_v2(NDIlib_recv_instance_t p_instance,
                                           NDIlib_video_frame_v2_t* p_video_data,
                                           NDIlib_audio_frame_interleaved_32f_t* p_audio_data,
                                           NDIlib_metadata_frame_t* p_metadata,
                                           uint32_t timeout_in_ms)
{
    if (p_instance == nullptr) {
        return NDIlib_frame_type_none;
    }
    return receiver_of(p_instance)->capture(p_video_data, p_audio_data, p_metadata, timeout_in_ms);
}

void NDIlib_recv_free_video_v2(NDIlib_recv_instance_t /*p_instance*/,
                               const NDIlib_video_frame_v2_t* p_video_data)
{
    if (p_video_data != nullptr) {
        vantor::ndi::free_video(*p_video_data);
    }
}

void NDIlib_recv_free_audio_interleaved_32f(NDIlib_recv_instance_t /*p_instance*/,
                                            const NDIlib_audio_frame_interleaved_32f_t* p_audio)
{
    if (p_audio != nullptr) {
        vantor::ndi::free_audio(*p_audio);
    }
}

void NDIlib_recv_free_metadata(NDIlib_recv_instance_t /*p_instance*/,
                               const NDIlib_metadata_frame_t* p_metadata)
{
    if (p_metadata != nullptr) {
        vantor::ndi::free_metadata(*p_metadata);
    }
}

bool NDIlib_recv_send_metadata(NDIlib_recv_instance_t p_instance,
                               const NDIlib_metadata_frame_t* p_metadata)
{
    if (p_instance == nullptr || p_metadata == nullptr) {
        return false;
    }
    return receiver_of(p_instance)->send_metadata(*p_metadata);
}

bool NDIlib_recv_set_tally(NDIlib_recv_instance_t p_instance, const NDIlib_tally_t* p_tally)
{
    if (p_instance == nullptr || p_tally == nullptr) {
        return false;
    }
    return receiver_of(p_instance)->set_tally(*p_tally);
}

int NDIlib_recv_get_no_connections(NDIlib_recv_instance_t p_instance)
{
    if (p_instance == nullptr) {
        return 0;
    }
    return receiver_of(p_instance)->connections();
}

void NDIlib_recv_get_performance(NDIlib_recv_instance_t p_instance,
                                 NDIlib_recv_performance_t* p_total,
                                 NDIlib_recv_performance_t* p_dropped)
{
    if (p_instance != nullptr) {
        receiver_of(p_instance)->performance(p_total, p_dropped);
    }
}

void NDIlib_recv_get_source_info(NDIlib_recv_instance_t p_instance,
                                 NDIlib_recv_source_info_t* p_info)
{
    if (p_instance != nullptr && p_info != nullptr) {
        receiver_of(p_instance)->source_info(*p_info);
    }
}
