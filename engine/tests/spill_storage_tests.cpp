#include <fstream>

#include "engine/InOutTempBuffer.h"
#include "engine/tests/TestStreams.h"

namespace Zorvik::Engine::Testing {
namespace {

std::string Pattern(std::size_t size) {
    std::string bytes(size, '\0');
    for (std::size_t i = 0; i < size; ++i) bytes[i] = static_cast<char>((i * 131) ^ (i >> 11));
    return bytes;
}

using SpillBuffer = TemporaryFolderTest;

TEST_F(SpillBuffer, KeepsTheFirstMebibyteInMemoryAndSpillsTheRestToOneFile) {
    auto buffer = WSHelperObjectsFactory::Instance().CreateInOutTempBuffer();
    buffer->Create();
    buffer->InitWriting();
    const std::string first = Pattern(InOutTempBuffer::kBufferSize);
    ASSERT_TRUE(buffer->Write(first.data(), static_cast<std::uint32_t>(first.size())));
    EXPECT_TRUE(SpillFiles().empty());
    ASSERT_TRUE(buffer->Write("x", 1));
    ASSERT_EQ(SpillFiles(), std::vector<std::string>{"7zt.tmp"});
    EXPECT_TRUE(buffer->Write("", 0));
    EXPECT_EQ(buffer->GetDataSize(), first.size() + 1);
    buffer.reset();
    EXPECT_TRUE(SpillFiles().empty()) << "the spill file outlived its buffer";
}

TEST_F(SpillBuffer, WritesEverythingBackInOrder) {
    const std::string content = Pattern(3 << 20);
    auto buffer = WSHelperObjectsFactory::Instance().CreateInOutTempBuffer();
    buffer->Create();
    buffer->InitWriting();
    // Uneven pieces cross the memory/file boundary mid-write.
    for (std::size_t offset = 0; offset < content.size();) {
        const std::size_t n = std::min<std::size_t>(content.size() - offset, 77777);
        ASSERT_TRUE(buffer->Write(content.data() + offset, static_cast<std::uint32_t>(n)));
        offset += n;
    }
    auto out = zorvik::rt::make<MemoryOutStream>();
    EXPECT_EQ(buffer->WriteToStream(out.get()), S_OK);
    EXPECT_TRUE(out->Data() == content);
}

TEST_F(SpillBuffer, EachNewRoundReplacesTheSpillFile) {
    auto buffer = WSHelperObjectsFactory::Instance().CreateInOutTempBuffer();
    buffer->Create();
    const std::string content = Pattern(InOutTempBuffer::kBufferSize + 10);
    for (int round = 0; round < 2; ++round) {
        buffer->InitWriting();
        ASSERT_TRUE(buffer->Write(content.data(), static_cast<std::uint32_t>(content.size())));
        EXPECT_EQ(SpillFiles().size(), 1u) << "round " << round;
    }
}

TEST_F(SpillBuffer, AnUnusableTemporaryFolderFailsTheWriteAndALaterWriteTriesAgain) {
    auto buffer = WSHelperObjectsFactory::Instance().CreateInOutTempBuffer();
    buffer->Create();
    buffer->InitWriting();
    const std::string content = Pattern(InOutTempBuffer::kBufferSize + 1);
    // A regular file where the folder should be: nothing can be created below it, even by root.
    const std::string blocked = (folder_.parent_path() / "blocked").string();
    std::ofstream(blocked) << "x";
    setenv("ZORVIK_TEMP", (blocked + "/temp").c_str(), 1);
    EXPECT_FALSE(buffer->Write(content.data(), static_cast<std::uint32_t>(content.size())));
    setenv("ZORVIK_TEMP", folder_.c_str(), 1);
    EXPECT_TRUE(buffer->Write("y", 1));
    EXPECT_EQ(SpillFiles().size(), 1u);
}

}  // namespace
}  // namespace Zorvik::Engine::Testing
