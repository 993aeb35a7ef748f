#pragma once

#include <Processing.NDI.Lib.h>

// The NDI sender handle that camera control borrows from the transmitter (PTZ metadata in, tally
// and status out). Owned by the transmitter; camera control never creates or destroys one.
using camcontrol_ndi_send_instance_t = NDIlib_send_instance_t;
