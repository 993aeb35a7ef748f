// The encoder application: NDI streaming of the camera's video and audio, and camera control.
#include "main/encoder_main.h"

int main()
{
    return encoder_app_main();
}
