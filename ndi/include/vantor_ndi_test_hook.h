#pragma once

#include "Processing.NDI.Lib.h"

// A test hook of this runtime, not one of the SDK's calls: the observer is called at the start of
// every NDIlib_send_send_video_async_v2 (on any sender, from the calling thread), before the sender
// lets go of the previous picture's bytes. Null removes it.
using vantor_ndi_video_send_observer = void (*)(const NDIlib_video_frame_v2_t* p_video_data);
void vantor_ndi_set_video_send_observer(vantor_ndi_video_send_observer observer);

// This runtime's own, for tests and benchmarks: how many borrowed pictures the sender has copied
// so far because a connection still had one queued or half sent when the next video send came.
int64_t vantor_ndi_send_get_copies(NDIlib_send_instance_t p_instance);
