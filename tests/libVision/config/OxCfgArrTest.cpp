#include <string>
#include <utility>

#include <gtest/gtest.h>

#include "OrvixSDK/OxCfgArr.h"

using OrvixSDK::OxCfgArr;

namespace {

// Three distinct sample values per element type.
template <typename T>
T sample(int i)
{
    return static_cast<T>(10 * i + 1);
}

template <>
std::string sample<std::string>(int i)
{
    // Long enough to live on the heap, so a shallow copy would show.
    return "value number " + std::to_string(i) + " with some padding text";
}

template <typename T>
class OxCfgArrTest : public ::testing::Test {
protected:
    OxCfgArr<T> makeArray() const
    {
        const T values[3] = {sample<T>(0), sample<T>(1), sample<T>(2)};
        return OxCfgArr<T>(values, 3);
    }

    static void expectSamples(const OxCfgArr<T>& array)
    {
        ASSERT_EQ(array.size, 3);
        ASSERT_NE(array.data, nullptr);
        for (int i = 0; i < 3; ++i)
            EXPECT_EQ(array[i], sample<T>(i)) << "element " << i;
    }

    static void expectEmpty(const OxCfgArr<T>& array)
    {
        EXPECT_EQ(array.size, 0);
        EXPECT_EQ(array.data, nullptr);
    }
};

typedef ::testing::Types<short, int, float, double, std::string> ElementTypes;
TYPED_TEST_SUITE(OxCfgArrTest, ElementTypes);

TYPED_TEST(OxCfgArrTest, SizedArrayHoldsZeroOrEmptyElements)
{
    OxCfgArr<TypeParam> array(4);
    ASSERT_EQ(array.size, 4);
    for (int i = 0; i < 4; ++i)
        EXPECT_EQ(array[i], TypeParam());
}

TYPED_TEST(OxCfgArrTest, PointerConstructorCopiesTheElements)
{
    TypeParam values[3] = {sample<TypeParam>(0), sample<TypeParam>(1), sample<TypeParam>(2)};
    OxCfgArr<TypeParam> array(values, 3);
    values[0] = sample<TypeParam>(7);
    this->expectSamples(array);
    EXPECT_NE(array.data, values);
}

TYPED_TEST(OxCfgArrTest, CopiesAreDeep)
{
    OxCfgArr<TypeParam> source = this->makeArray();

    OxCfgArr<TypeParam> constructed(source);
    OxCfgArr<TypeParam> assigned(1);
    assigned = source;
    for (OxCfgArr<TypeParam>* copy : {&constructed, &assigned}) {
        this->expectSamples(*copy);
        EXPECT_NE(copy->data, source.data);
        (*copy)[1] = sample<TypeParam>(9);
    }
    this->expectSamples(source);
}

TYPED_TEST(OxCfgArrTest, MovesTakeTheElementsAndLeaveTheSourceEmpty)
{
    OxCfgArr<TypeParam> first = this->makeArray();
    TypeParam* elements = first.data;

    OxCfgArr<TypeParam> constructed(std::move(first));
    this->expectEmpty(first);
    EXPECT_EQ(constructed.data, elements);
    this->expectSamples(constructed);

    OxCfgArr<TypeParam> assigned(5);
    assigned = std::move(constructed);
    this->expectEmpty(constructed);
    EXPECT_EQ(assigned.data, elements);
    this->expectSamples(assigned);
}

TYPED_TEST(OxCfgArrTest, SelfAssignmentLeavesTheArrayUnchanged)
{
    OxCfgArr<TypeParam> array = this->makeArray();
    OxCfgArr<TypeParam>& alias = array;
    array = alias;
    this->expectSamples(array);
    array = std::move(alias);
    this->expectSamples(array);
}

TYPED_TEST(OxCfgArrTest, EmptyArraysAreSafeToCopyMoveAndAssign)
{
    const TypeParam one = sample<TypeParam>(0);
    OxCfgArr<TypeParam> fromZero(0);
    OxCfgArr<TypeParam> fromNegative(-3);
    OxCfgArr<TypeParam> fromNull(static_cast<const TypeParam*>(nullptr), 3);
    OxCfgArr<TypeParam> fromZeroCount(&one, 0);
    OxCfgArr<TypeParam> byDefault;
    for (const OxCfgArr<TypeParam>* empty : {&fromZero, &fromNegative, &fromNull, &fromZeroCount, &byDefault})
        this->expectEmpty(*empty);

    OxCfgArr<TypeParam> copy(fromZero);
    this->expectEmpty(copy);
    OxCfgArr<TypeParam> filled = this->makeArray();
    filled = fromZero;
    this->expectEmpty(filled);
    OxCfgArr<TypeParam> moved(std::move(copy));
    this->expectEmpty(moved);
    this->expectEmpty(copy);
}

}  // namespace
