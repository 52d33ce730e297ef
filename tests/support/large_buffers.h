#pragma once
// Fixtures whose tests run the program's buffers in this process: a Qt
// application, and the large buffers with the stream rings attached, made
// once per suite.

#include "encode/stream_buffers.h"
#include "shared/resources.h"
#include "support/test_application.h"

#include <gtest/gtest.h>

class LargeBuffersTest : public ::testing::Test {
protected:
    static void SetUpTestSuite()
    {
        Application();
        ASSERT_EQ(0, AllocateLargeBuffers());
        AttachStreamBuffers();
    }
    static void TearDownTestSuite() { FreeLargeBuffers(); }
};
