#include "SerialExecutor.h"

namespace veyra {

SerialExecutor::SerialExecutor()
{
    m_pool.setMaxThreadCount(1);
    m_pool.setExpiryTimeout(-1);
}

SerialExecutor::~SerialExecutor()
{
    m_pool.waitForDone();
}

void SerialExecutor::waitForDone()
{
    m_pool.waitForDone();
}

} // namespace veyra
