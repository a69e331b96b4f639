#include "engine/index/cdx4header.h"

#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "engine/storage/error4.h"
#include "tests/engine/index/node_fixture.h"

using namespace testing_support;

namespace {

using Bytes = std::vector<unsigned char>;

class HeaderTest : public EngineTest {
 protected:
  // A sound ordinary tag header: key length 20, "NAME" without a filter.
  Bytes tagBlock() {
    Cdx4Header h;
    h.root = 0x0C00;
    h.version = 0x01020304;
    h.keyLength = 20;
    h.options = cdx4optionCompact | cdx4optionCompound;
    Bytes block(cdx4headerSize);
    EXPECT_TRUE(cdx4headerEncode(&h, "NAME", nullptr, block.data()));
    return block;
  }
  Cdx4Header decoded;
};

TEST_F(HeaderTest, TagOfTagsCarriesTheMarkerOnlyOffTheDefaultGeometry) {
  Bytes block(cdx4headerSize);
  Cdx4Header h;
  cdx4headerInitTagOfTags(&h, 512, 1);
  h.root = 0x600;
  ASSERT_TRUE(cdx4headerEncode(&h, nullptr, nullptr, block.data()));
  EXPECT_EQ(Bytes(block.begin() + 12, block.begin() + 28),
            (Bytes{10, 0, 0xE0, 1, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0}));
  EXPECT_EQ(Bytes(block.begin() + 502, block.begin() + 512),
            (Bytes{0, 0, 1, 0, 1, 0, 0, 0, 1, 0}));

  cdx4headerInitTagOfTags(&h, 1024, 2);
  h.root = 0x600;
  ASSERT_TRUE(cdx4headerEncode(&h, nullptr, nullptr, block.data()));
  EXPECT_EQ(Bytes(block.begin() + 16, block.begin() + 28),
            (Bytes{0xCD, 0xAB, 0, 0, 0, 4, 0, 0, 2, 0, 0, 0}));
  ASSERT_EQ(cdx4fileHeaderRead(&c, block.data(), &decoded, "t.cdx"), 0);
  EXPECT_EQ(cdx4headerBlockSize(decoded), 1024u);
  EXPECT_EQ(cdx4headerMultiplier(decoded), 2u);
}

TEST_F(HeaderTest, VersionIsBigEndianAndATagWithoutFilterHasOneAt506) {
  const Bytes block = tagBlock();
  EXPECT_EQ(Bytes(block.begin(), block.begin() + 16),
            (Bytes{0, 0x0C, 0, 0, 0, 0, 0, 0, 1, 2, 3, 4, 20, 0, 0x60, 1}));
  EXPECT_EQ(Bytes(block.begin() + 504, block.begin() + 512), (Bytes{5, 0, 1, 0, 0, 0, 5, 0}));
  EXPECT_EQ(Bytes(block.begin() + 512, block.begin() + 518), (Bytes{'N', 'A', 'M', 'E', 0, 0}));
  ASSERT_EQ(cdx4tagHeaderRead(&c, block.data(), 512, &decoded, "t.cdx"), 0);
  EXPECT_EQ(decoded.version, 0x01020304u);
  EXPECT_STREQ(cdx4headerKeyExpression(block.data(), decoded), "NAME");
  EXPECT_STREQ(cdx4headerFilterExpression(block.data(), decoded), "");

  Cdx4Header h = decoded;
  Bytes filtered(cdx4headerSize);
  ASSERT_TRUE(cdx4headerEncode(&h, "NAME", "DELETED()", filtered.data()));
  ASSERT_EQ(cdx4tagHeaderRead(&c, filtered.data(), 512, &decoded, "t.cdx"), 0);
  EXPECT_EQ(decoded.filterLength, 10);
  EXPECT_STREQ(cdx4headerFilterExpression(filtered.data(), decoded), "DELETED()");
  EXPECT_FALSE(cdx4headerEncode(&h, std::string(300, 'K').c_str(), std::string(300, 'F').c_str(),
                                filtered.data()));
}

TEST_F(HeaderTest, DamagedHeadersAreRefused) {
  struct Case {
    const char* what;
    int offset;
    Bytes value;
    int32_t location;
  } cases[] = {
      {"root 0", 0, {0, 0, 0, 0}, 80320},
      {"root none", 0, {0xFF, 0xFF, 0xFF, 0xFF}, 80320},
      {"no compact option", 14, {0x40}, 80320},
      {"key length 0", 12, {0, 0}, 80322},
      {"key length 256", 12, {0, 1}, 80322},
      {"one entry a branch", 12, {243, 0}, 80322},
      {"expressions beyond the pool", 510, {0x00, 0x02}, 80323},
      {"key expression without its NUL", 510, {4, 0}, 80323},
      {"filter without its NUL", 506, {3, 0}, 80323},
      {"unknown collation", 494, {'C', 'B', '0', '0', '0', '0', '5', 0}, 80187},
      {"collation that is no name", 494, {'M', 'A', 'C', 'H', 'I', 'N', 'E', 0}, 80187},
  };
  for (const Case& k : cases) {
    Bytes block = tagBlock();
    std::copy(k.value.begin(), k.value.end(), block.begin() + k.offset);
    recorder.clear();
    EXPECT_EQ(cdx4tagHeaderRead(&c, block.data(), 512, &decoded, "t.cdx"), e4index) << k.what;
    EXPECT_EQ(lastError().location, k.location) << k.what;
    EXPECT_EQ(lastError().text1, "t.cdx");
    clearError();
  }
  for (const char* name : {"GENERAL", "CB00004"}) {
    Bytes block = tagBlock();
    std::memcpy(block.data() + 494, name, 7);
    EXPECT_EQ(cdx4tagHeaderRead(&c, block.data(), 512, &decoded, "t.cdx"), 0) << name;
  }
  Bytes longest = tagBlock();
  longest[12] = 242;
  EXPECT_EQ(cdx4tagHeaderRead(&c, longest.data(), 512, &decoded, "t.cdx"), 0);
}

TEST_F(HeaderTest, FileHeaderGeometryIsChecked) {
  struct Case {
    uint32_t blockSize, multiplier;
    bool sound;
  } cases[] = {{512, 1, true},     {1024, 2, true},    {4096, 1024, true}, {1000, 1, false},
               {1536, 3, false},   {2048, 2048, false}, {131072, 1, false}, {512, 0, false}};
  for (const Case& k : cases) {
    Cdx4Header h;
    cdx4headerInitTagOfTags(&h, k.blockSize, k.multiplier);
    h.root = 0x600;
    Bytes block(cdx4headerSize);
    ASSERT_TRUE(cdx4headerEncode(&h, nullptr, nullptr, block.data()));
    recorder.clear();
    const int32_t rc = cdx4fileHeaderRead(&c, block.data(), &decoded, "t.cdx");
    EXPECT_EQ(rc, k.sound ? 0 : e4index) << k.blockSize << " " << k.multiplier;
    if (!k.sound) {
      EXPECT_EQ(lastError().location, 85305);
    }
    clearError();
  }
  Cdx4Header h;
  cdx4headerInitTagOfTags(&h, 512, 1);
  h.root = 0x600;
  h.options = 0x40;
  Bytes block(cdx4headerSize);
  ASSERT_TRUE(cdx4headerEncode(&h, nullptr, nullptr, block.data()));
  EXPECT_EQ(cdx4fileHeaderRead(&c, block.data(), &decoded, "t.cdx"), e4index);
  EXPECT_EQ(lastError().location, 80099);
  clearError();
  // The header at 0 is the tag of tags of a compound file (0xE0) or a
  // single tag (neither option): a tag of tags that lost its option (one
  // bit of byte 14) would be taken for an ordinary tag without expression.
  for (const auto& [options, sound] : {std::pair{0xE0, true}, std::pair{0x20, true},
                                       std::pair{0x60, false}, std::pair{0xA0, false}}) {
    block[14] = static_cast<unsigned char>(options);
    recorder.clear();
    EXPECT_EQ(cdx4fileHeaderRead(&c, block.data(), &decoded, "t.cdx"), sound ? 0 : e4index)
        << options;
    if (!sound) {
      EXPECT_EQ(lastError().location, 80099) << options;
      EXPECT_EQ(lastError().text1, "t.cdx");
    }
    clearError();
  }
}

class TagHeaderBlockTest : public NodeTest {};

TEST_F(TagHeaderBlockTest, ATagHeaderMustLieWhollyInTheFileBeyondItsHeader) {
  EXPECT_EQ(cdx4tagHeaderBlockCheck(&index, 1024), 0);
  EXPECT_EQ(cdx4tagHeaderBlockCheck(&index, index.eofBlock - 1024), 0);
  for (uint32_t bad : {0u, 512u, 1100u, index.eofBlock - 512, index.eofBlock}) {
    recorder.clear();
    EXPECT_EQ(cdx4tagHeaderBlockCheck(&index, bad), e4index) << bad;
    EXPECT_EQ(lastError().location, 80324);
    clearError();
  }
}

}  // namespace
