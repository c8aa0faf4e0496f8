// Program records: defaults, bounded name and path fields, the version-1 record reader.
#include "plugin/SkorvalineProgram.h"
#include "plugin/StateTestSupport.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <limits>

TEST(Program, StartsWithTheDefaults)
{
    const fxSkorvalineProgram p;
    EXPECT_FLOAT_EQ(p.getVersion(), 1.2f);
    EXPECT_EQ(p.getName(), "Default");
    EXPECT_EQ(p.getPath(true), "#0");
    EXPECT_EQ(p.getPath(false), "#0");
    EXPECT_TRUE(p.imageL.empty());
    EXPECT_TRUE(p.imageR.empty());
    // A few defaults of the parameter table, written out here.
    EXPECT_EQ(p.getValue(2), 0.055f);
    EXPECT_EQ(p.getValue(3), 0.205f);
    EXPECT_EQ(p.getValue(7), 0.78f);
    EXPECT_EQ(p.getValue(44), 1.0f);
    EXPECT_EQ(p.getValue(51), 0.6f);
    EXPECT_EQ(p.getValue(52), 0.6f);
    EXPECT_EQ(p.getValue(26), 0.0f);
    EXPECT_EQ(p.getValue(53), 0.0f);
    EXPECT_EQ(p.getValue(-1), 0.0f);
}

TEST(Program, IgnoresIndicesOutsideTheTable)
{
    fxSkorvalineProgram p;
    const fxSkorvalineProgram before = p;
    p.setValue(53, 0.5f);
    p.setValue(54, 0.5f);
    p.setValue(-1, 0.5f);
    for (int i = 0; i < 53; ++i)
        EXPECT_EQ(p.getValue(i), before.getValue(i));
    p.setValue(52, 0.25f);
    EXPECT_EQ(p.getValue(52), 0.25f);
}

TEST(Program, NameAndPathAreBoundedAndNeverSplitACharacter)
{
    fxSkorvalineProgram p;
    p.setName("A name that is much longer than the field");
    EXPECT_EQ(p.getName(), "A name that is much lon");  // 23 characters
    p.setName("short");
    EXPECT_EQ(p.getName(), "short");  // the field was cleared first
    EXPECT_EQ(p.name[6], '\0');
    // 22 ASCII bytes then a two-byte character: byte 23 would be its second half.
    p.setName("abcdefghijklmnopqrstuv\xC3\xA9xyz");
    EXPECT_EQ(p.getName(), "abcdefghijklmnopqrstuv");
    p.setName(nullptr);
    EXPECT_EQ(p.getName(), "");

    const std::string longPath(400, 'p');
    p.setPath(longPath.c_str(), true);
    EXPECT_EQ(p.getPath(true), std::string(259, 'p'));
    EXPECT_EQ(p.getPath(false), "#0");
    p.setPath("/maps/r.bmp", false);
    EXPECT_EQ(p.getPath(false), "/maps/r.bmp");
}

TEST(ProgramV1, RecordMapsEveryFieldThroughTheOffsetTable)
{
    const auto bytes = statetest::makeV1Record(5);
    fxSkorvalineProgram p;
    p.setTempo(133.0f);
    p.imageL = "old";
    p.imageR = "old";
    fxSkorvalineProgramV1::decode(bytes.data()).applyTo(p);

    std::vector<bool> listed(53, false);
    for (const auto& [offset, index] : statetest::v1Offsets()) {
        listed[index] = true;
        EXPECT_EQ(p.getValue(index), statetest::v1Value(5, index))
            << "index " << index << " offset " << offset;
    }
    for (int index : {26, 31, 45, 46, 48})
        EXPECT_EQ(p.getValue(index), 0.0f) << index;
    EXPECT_EQ(p.getValue(51), 0.6f);
    EXPECT_EQ(p.getValue(52), 0.6f);
    EXPECT_EQ(std::count(listed.begin(), listed.end(), true), 46);  // all but 7 indices
    EXPECT_EQ(p.getVersion(), 1.0f);
    EXPECT_EQ(p.getTempo(), 133.0f);
    EXPECT_EQ(p.getPath(true), "C:\\maps\\left5.bmp");
    EXPECT_EQ(p.getPath(false), "#2");
    EXPECT_EQ(p.getName(), "V1 program 5");
    EXPECT_TRUE(p.imageL.empty());
    EXPECT_TRUE(p.imageR.empty());
}

TEST(ProgramV1, UnterminatedTextsAndWildNumbersStayInBounds)
{
    std::vector<unsigned char> bytes(624, 'x');
    statetest::putFloatLE(bytes, 0, std::numeric_limits<float>::quiet_NaN());
    statetest::putFloatLE(bytes, 4, 1e30f);
    statetest::putFloatLE(bytes, 8, -3.0f);
    statetest::putFloatLE(bytes, 12, std::numeric_limits<float>::infinity());
    fxSkorvalineProgram p;
    fxSkorvalineProgramV1::decode(bytes.data()).applyTo(p);
    EXPECT_EQ(p.getValue(0), 0.0f);
    EXPECT_EQ(p.getValue(1), 1.0f);
    EXPECT_EQ(p.getValue(2), 0.0f);
    EXPECT_EQ(p.getValue(3), 1.0f);
    for (int i = 0; i < 53; ++i)
        EXPECT_TRUE(p.getValue(i) >= 0.0f && p.getValue(i) <= 1.0f) << i;
    EXPECT_EQ(p.getPath(true), std::string(200, 'x'));
    EXPECT_EQ(p.getPath(false), std::string(200, 'x'));
    EXPECT_EQ(p.getName(), std::string(23, 'x'));
}
