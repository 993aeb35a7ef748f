#pragma once

// The NDI sender handle that camera control borrows from the transmitter (PTZ metadata in, tally
// and status out). It is an opaque pointer owned by the NDI runtime; camera control never creates
// or destroys one. Stands for the runtime's NDIlib_send_instance_t until camera control links it.
using camcontrol_ndi_send_instance_t = void*;
