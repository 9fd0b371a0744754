#include <gtest/gtest.h>

#include <vector>

#include "runtime/strings/str_hooks.h"
#include "str_fixture.h"

namespace {

std::vector<BasicString*> released_fields;

void record_release(BasicString* s) {
    released_fields.push_back(s);
    s->field_link = nullptr;
}

class StrHooksTest : public StrEngineTest {
  protected:
    void SetUp() override {
        StrEngineTest::SetUp();
        released_fields.clear();
        str_file_hooks.field_release = record_release;
    }
    void TearDown() override {
        str_file_hooks = StrFileHooks{};
        StrEngineTest::TearDown();
    }
};

TEST_F(StrHooksTest, str_free_releases_a_bound_field_first) {
    int field_record = 0;
    BasicString* bound = variable("name");
    bound->field_link = &field_record;
    BasicString* plain = variable("other");
    str_free(plain);
    EXPECT_TRUE(released_fields.empty());
    str_free(bound);
    ASSERT_EQ(released_fields.size(), 1u);
    EXPECT_EQ(released_fields[0], bound);
}

TEST_F(StrHooksTest, str_free_without_a_hook_ignores_the_binding) {
    str_file_hooks.field_release = nullptr;
    int field_record = 0;
    BasicString* bound = variable("name");
    bound->field_link = &field_record;
    str_free(bound);
    EXPECT_TRUE(released_fields.empty());
}

} // namespace
