#include "HelperLib/sigint_block.h"

#include <pthread.h>

SigintBlock::SigintBlock()
{
    sigset_t block;
    sigemptyset(&block);
    sigaddset(&block, SIGINT);
    (void)pthread_sigmask(SIG_BLOCK, &block, &m_previous);
}

SigintBlock::~SigintBlock()
{
    (void)pthread_sigmask(SIG_SETMASK, &m_previous, nullptr);
}
