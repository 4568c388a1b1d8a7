// Framing: split feeds, the size limit and undecodable payloads.

#include "calder/FrameCodec.h"

#include "host_link.pb.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

using Status = calder::FrameDecoder::Status;

calder::HostFrame NamesFrame(const std::string& first) {
    calder::HostFrame f;
    f.mutable_names()->set_firsttext(first);
    return f;
}

std::string ThreeFrames() {
    std::string wire;
    EXPECT_TRUE(calder::AppendFrame(NamesFrame("one"), wire));
    calder::HostFrame heartbeat;
    heartbeat.mutable_heartbeat();
    EXPECT_TRUE(calder::AppendFrame(heartbeat, wire));
    EXPECT_TRUE(calder::AppendFrame(NamesFrame(std::string(300, 'x')), wire));
    return wire;
}

TEST(FrameDecoder, AppendFramePrefixesTheLittleEndianLength) {
    std::string wire = "keep";
    const calder::HostFrame f = NamesFrame(std::string(300, 'y'));
    ASSERT_TRUE(calder::AppendFrame(f, wire));
    const std::string payload = f.SerializeAsString();
    ASSERT_EQ(wire.size(), 4 + 4 + payload.size());
    EXPECT_EQ(wire.substr(0, 4), "keep");
    const auto* p = reinterpret_cast<const unsigned char*>(wire.data() + 4);
    EXPECT_EQ(p[0] | (p[1] << 8) | (p[2] << 16) | (p[3] << 24), static_cast<int>(payload.size()));
    EXPECT_EQ(wire.substr(8), payload);
}

TEST(FrameDecoder, ReassemblesFramesFromAnySplit) {
    const std::string wire = ThreeFrames();
    for (const std::size_t piece :
         {std::size_t{1}, std::size_t{3}, std::size_t{7}, std::size_t{64}, wire.size()}) {
        SCOPED_TRACE(piece);
        calder::FrameDecoder decoder(1024);
        std::vector<calder::HostFrame> frames;
        for (std::size_t at = 0; at < wire.size(); at += piece) {
            decoder.Feed(std::string_view(wire).substr(at, piece));
            calder::HostFrame f;
            Status s;
            while ((s = decoder.Next(f)) == Status::frame)
                frames.push_back(f);
            ASSERT_EQ(s, Status::needMore);
        }
        ASSERT_EQ(frames.size(), 3u);
        EXPECT_EQ(frames[0].names().firsttext(), "one");
        EXPECT_TRUE(frames[1].has_heartbeat());
        EXPECT_EQ(frames[2].names().firsttext(), std::string(300, 'x'));
        EXPECT_EQ(decoder.Buffered(), 0u);
    }
}

TEST(FrameDecoder, EmptyFrameAndFrameAtTheLimitAreAccepted) {
    calder::HostFrame big = NamesFrame(std::string(100, 'z'));
    const std::size_t limit = big.ByteSizeLong();
    std::string wire(4, '\0'); // a frame of length 0: a frame without a packet
    ASSERT_TRUE(calder::AppendFrame(big, wire));
    calder::FrameDecoder decoder(limit);
    decoder.Feed(wire);
    calder::HostFrame f;
    ASSERT_EQ(decoder.Next(f), Status::frame);
    EXPECT_EQ(f.packet_case(), calder::HostFrame::PACKET_NOT_SET);
    ASSERT_EQ(decoder.Next(f), Status::frame);
    EXPECT_EQ(f.names().firsttext().size(), 100u);
}

TEST(FrameDecoder, StreamErrorsAreFinalAndKeepNothing) {
    struct Case {
        const char* name;
        std::string prefix;
        Status expected;
    };
    const std::vector<Case> cases = {
        {"one byte over the limit", std::string("\x01\x04\x00\x00", 4), Status::tooLarge},
        {"4 GiB", std::string("\xFF\xFF\xFF\xFF", 4), Status::tooLarge},
        // An unterminated varint as the first tag.
        {"garbage payload", std::string("\x05\x00\x00\x00\xFF\xFF\xFF\xFF\xFF", 9), Status::malformed},
        // Field 20 (names) with a length running past the frame.
        {"inner length past the end", std::string("\x03\x00\x00\x00\xA2\x01\x7F", 7), Status::malformed},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        calder::FrameDecoder decoder(1024);
        decoder.Feed(c.prefix);
        // Whatever follows a bad prefix is not kept: a peer claiming 4 GiB cannot make us hold it.
        decoder.Feed(std::string(64 * 1024, 'q'));
        calder::HostFrame f;
        EXPECT_EQ(decoder.Next(f), c.expected);
        EXPECT_EQ(decoder.Next(f), c.expected) << "the stream cannot be resynchronised";
        decoder.Feed(ThreeFrames());
        EXPECT_EQ(decoder.Next(f), c.expected);
        EXPECT_EQ(decoder.Buffered(), 0u);
        EXPECT_EQ(decoder.Room(), 0u);
    }
}

TEST(FrameDecoder, RoomBoundsWhatAReaderBuffers) {
    const std::size_t limit = 200;
    std::string wire;
    for (int i = 0; i < 20; ++i)
        ASSERT_TRUE(calder::AppendFrame(NamesFrame(std::string(150 + i, 'a')), wire));
    calder::FrameDecoder decoder(limit);
    std::size_t at = 0;
    int frames = 0;
    while (at < wire.size()) {
        const std::size_t take = std::min(decoder.Room(), wire.size() - at);
        ASSERT_GT(take, 0u);
        decoder.Feed(std::string_view(wire).substr(at, take));
        at += take;
        EXPECT_LE(decoder.Buffered(), limit + 4);
        calder::HostFrame f;
        while (decoder.Next(f) == Status::frame)
            ++frames;
    }
    EXPECT_EQ(frames, 20);
}

} // namespace
