#include "zel/platform/ClassLookup.h"

#include <gtest/gtest.h>

#include <memory>

namespace zel {
namespace {

struct LookupBase {
  virtual ~LookupBase() = default;
};
struct LookupDerived : LookupBase {};
struct LookupOther {};

TEST(ClassLookupTest, FindsRegisteredTypesByName) {
  EXPECT_FALSE(classFromString("ClassLookupTest.Unregistered"));
  registerClass("ClassLookupTest.Derived", typeid(LookupDerived));
  ASSERT_TRUE(classFromString("ClassLookupTest.Derived"));
  EXPECT_EQ(*classFromString("ClassLookupTest.Derived"), std::type_index(typeid(LookupDerived)));

  registerClass("ClassLookupTest.Replaced", typeid(LookupBase));
  registerClass("ClassLookupTest.Replaced", typeid(LookupOther));
  EXPECT_EQ(*classFromString("ClassLookupTest.Replaced"), std::type_index(typeid(LookupOther)));
}

TEST(ClassLookupTest, IsKindOfClassNamedUsesTheDynamicType) {
  registerClass("ClassLookupTest.Base", typeid(LookupBase));
  registerClass("ClassLookupTest.Derived", typeid(LookupDerived));
  const std::unique_ptr<LookupBase> object = std::make_unique<LookupDerived>();
  EXPECT_TRUE(isKindOfClassNamed(*object, "ClassLookupTest.Derived"));
  EXPECT_FALSE(isKindOfClassNamed(*object, "ClassLookupTest.Base"));
  EXPECT_TRUE(isKindOfClassNamed(LookupBase{}, "ClassLookupTest.Base"));
  EXPECT_FALSE(isKindOfClassNamed(LookupOther{}, "ClassLookupTest.Nothing"));
}

}  // namespace
}  // namespace zel
