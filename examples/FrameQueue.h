#pragma once
// Temporary: forwards to common/FrameQueue.h until the tests include it from there.
#include "common/FrameQueue.h"

namespace ZephExamples {
using ZephCommon::FrameQueue;
}
