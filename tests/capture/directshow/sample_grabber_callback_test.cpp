#include "capture/directshow/sample_grabber_callback.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

#include "capture/directshow/win32_main_loop.h"

namespace ravdel {
namespace {

class CountingReceiver final : public FrameReceiver {
 public:
  void receiveFrame(const std::uint8_t* data, std::int32_t& byteCount,
                    const FrameMoment&) override {
    ++frames;
    lastData = data;
    lastCount = byteCount;
    byteCount = 0;  // the callback ignores it
  }
  int frames = 0;
  const std::uint8_t* lastData = nullptr;
  std::int32_t lastCount = -1;
};

TEST(SampleGrabberCallbackTest, TheObjectLivesWhileAReferenceDoes) {
  const long before = TSampleGrabberCB::liveObjects();
  dshow::ComRef<TSampleGrabberCB> callback = TSampleGrabberCB::create(nullptr);
  ASSERT_TRUE(callback);
  EXPECT_EQ(TSampleGrabberCB::liveObjects(), before + 1);

  dshow::ComRef<dshow::ISampleGrabberCB> asGrabberSees;
  ASSERT_EQ(callback.query(dshow::kIidSampleGrabberCB, asGrabberSees), S_OK);
  dshow::ComRef<IUnknown> unknown;
  ASSERT_EQ(callback.query(IID_IUnknown, unknown), S_OK);
  dshow::ComRef<IMediaSample> unrelated;
  EXPECT_EQ(callback.query(IID_IMediaSample, unrelated), E_NOINTERFACE);
  EXPECT_FALSE(unrelated);

  callback.reset();
  unknown.reset();
  EXPECT_EQ(TSampleGrabberCB::liveObjects(), before + 1) << "the grabber's reference keeps it";
  asGrabberSees.reset();
  EXPECT_EQ(TSampleGrabberCB::liveObjects(), before);
}

TEST(SampleGrabberCallbackTest, BuffersGoToTheReceiverOrAreOfferedToTheMainWindow) {
  Win32MainLoop owner;  // stands in for the main window
  int offers = 0;
  WPARAM offeredLength = 0;
  dshow::ComRef<TSampleGrabberCB> callback = TSampleGrabberCB::create(owner.window());
  std::vector<BYTE> frame(64, 7);

  const struct {
    bool receiver;
    LONG length;
    int delivered;
    int offered;
  } cases[] = {
      {true, 64, 1, 0}, {true, 0, 0, 0},    // nothing to deliver, still S_OK
      {true, -1, 0, 0}, {false, 64, 0, 1},  // no receiver yet: offered as 0x402
      {false, 0, 0, 0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.length);
    CountingReceiver receiver;
    callback->impl().Receiver.install(c.receiver ? &receiver : nullptr);
    EXPECT_EQ(callback->BufferCB(0.0, frame.data(), c.length), S_OK);
    EXPECT_EQ(receiver.frames, c.delivered);
    if (c.delivered > 0) {
      EXPECT_EQ(receiver.lastData, frame.data()) << "the buffer itself, not a copy";
      EXPECT_EQ(receiver.lastCount, c.length);
    }
    MSG message;
    int offeredNow = 0;
    while (PeekMessageA(&message, owner.window(), WM_USER + 2, WM_USER + 2, PM_REMOVE)) {
      ++offeredNow;
      offeredLength = message.wParam;
    }
    offers += offeredNow;
    EXPECT_EQ(offeredNow, c.offered);
    callback->impl().Receiver.install(nullptr);
  }
  EXPECT_EQ(offers, 1);
  EXPECT_EQ(offeredLength, WPARAM{64});
  EXPECT_EQ(callback->impl().captured(), 2u);
  EXPECT_EQ(callback->impl().delivered(), 1u);
}

}  // namespace
}  // namespace ravdel
