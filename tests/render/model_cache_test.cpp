// The model cache without a GL context: lookups by name and letter case,
// levels of detail from "_lod" siblings and the level chosen by distance,
// purging by generation, and the handles the simulation holds.
#include <gtest/gtest.h>

#include <string>

#include "core/services.h"
#include "files/datafs.h"
#include "model_test_util.h"
#include "render/model.h"

using namespace qmtest;

namespace {

struct model_cache_test : ::testing::Test {
    test::data_dirs_fixture dirs;
    log_capture log;

    void SetUp() override
    {
        model_generation = 0;
        g_model_settings = model_settings();
    }
    void TearDown() override
    {
        model_purge(true);
        model_generation = 0;
        g_model_settings = model_settings();
        g_model_service = model_service();
    }
    // A one-part model whose square has the given half size, so that
    // levels can be told apart by their positions.
    void put(const std::string& name, float size)
    {
        test::write_file(dirs.game + "/" + name, file({square(0, 0, size)}));
    }
};

float size_of(const model* m)
{
    return m->parts->positions[1].x;
}

}  // namespace

TEST_F(model_cache_test, a_name_is_loaded_once_and_found_again_in_any_letter_case)
{
    put("objects/gate.qm", 1);
    model* m = model_get("@objects/gate.qm");
    ASSERT_NE(m, nullptr);
    EXPECT_EQ(model_get("@objects/gate.qm"), m);
    EXPECT_EQ(log.text().find("case mismatch"), std::string::npos);
    EXPECT_EQ(model_get("@Objects/GATE.qm"), m);
    EXPECT_NE(log.text().find("Warning: case mismatch on '@Objects/GATE.qm'"), std::string::npos);
    EXPECT_EQ(model_cache_count(), 1);

    // A name that cannot be loaded is not cached and is tried again.
    EXPECT_EQ(model_get("@objects/none.qm"), nullptr);
    EXPECT_EQ(model_cache_count(), 1);
    put("objects/none.qm", 2);
    EXPECT_NE(model_get("@objects/none.qm"), nullptr);
    EXPECT_EQ(model_get(""), nullptr);
    EXPECT_EQ(model_get(nullptr), nullptr);
}

TEST_F(model_cache_test, lod_siblings_form_a_chain_sorted_by_distance)
{
    put("objects/gate.qm", 1);
    put("objects/gate_lod4.qm", 4);
    put("objects/gate_lod2.qm", 2);
    // Not levels: no character after the number, no number, another stem.
    put("objects/gate_lod3", 3);
    put("objects/gate_lodx.qm", 5);
    put("objects/gatehouse_lod1.qm", 6);
    // The same level compressed beside the plain one is the same level (the
    // plain file is opened first, so these bytes are never read).
    test::write_file(dirs.game + "/objects/gate_lod2.qm.gz", "not gzip");
    model* m = model_get("@objects/gate.qm");
    ASSERT_NE(m, nullptr);
    EXPECT_EQ(m->lod_distance, 0.0f);
    const model* a = m->next_lod;
    ASSERT_NE(a, nullptr);
    EXPECT_EQ(a->lod_distance, 4.0f);
    EXPECT_STREQ(a->name, "@objects/gate_lod2.qm");
    EXPECT_EQ(size_of(a), 2.0f);
    const model* b = a->next_lod;
    ASSERT_NE(b, nullptr);
    EXPECT_EQ(b->lod_distance, 16.0f);
    EXPECT_EQ(size_of(b), 4.0f);
    EXPECT_EQ(b->next_lod, nullptr);
    // Levels belong to their base, not to the cache.
    EXPECT_EQ(model_cache_count(), 1);

    // The walk takes each level whose distance is within reach and stops
    // at the first that is not.
    EXPECT_EQ(model_lod(m, 3.9f), m);
    EXPECT_EQ(model_lod(m, 4.0f), a);
    EXPECT_EQ(model_lod(m, 15.0f), a);
    EXPECT_EQ(model_lod(m, 100.0f), b);
    g_model_settings.lod_scale = 0.5f;
    EXPECT_EQ(model_lod(m, 20.0f), a);
    g_model_settings.lod_bias = 12;
    EXPECT_EQ(model_lod(m, 0.0f), a);
    EXPECT_EQ(model_lod(m, 8.0f), b);
    g_model_settings.lod_bias = -1;
    EXPECT_EQ(model_lod(m, 0.0f), m);  // the base is drawn even when out of reach

    // A level file of a name without "@" is a plain path: no levels.
    const std::string path = dirs.game + "/objects/gate.qm";
    model* plain = model_get(path.c_str());
    ASSERT_NE(plain, nullptr);
    EXPECT_EQ(plain->next_lod, nullptr);
}

TEST_F(model_cache_test, purge_deletes_what_the_current_generation_did_not_ask_for)
{
    put("kept.qm", 1);
    put("old.qm", 2);
    put("new.qm", 3);
    put("again.qm", 4);
    model* kept = model_get("@kept.qm");  // before any track: kept for good
    model_generation = 1;
    model* old = model_get("@old.qm");
    model* again = model_get("@again.qm");
    const unsigned old_handle = model_handle(old, 7);
    const unsigned kept_handle = model_handle(kept);
    model_generation = 2;
    model* fresh = model_get("@new.qm");
    EXPECT_EQ(model_get("@AGAIN.qm"), again);  // a case-mismatched lookup counts as use
    ASSERT_TRUE(kept && old && fresh && again);
    EXPECT_EQ(kept->last_used, 0);
    EXPECT_EQ(fresh->last_used, 2);

    g_model_settings.verbose = true;
    model_purge(false);
    EXPECT_EQ(model_cache_count(), 3);
    EXPECT_EQ(model_from_handle(old_handle), nullptr);
    EXPECT_EQ(model_handle_texture(old_handle), 0u);
    EXPECT_EQ(model_from_handle(kept_handle), kept);
    const std::string text = log.text();
    EXPECT_NE(text.find("deleting model @old.qm"), std::string::npos) << text;
    EXPECT_EQ(count_of(text, "deleting model"), 1) << text;

    // The old name loads afresh, under a handle of its own.
    model* back = model_get("@old.qm");
    ASSERT_NE(back, nullptr);
    const unsigned back_handle = model_handle(back, 7);
    EXPECT_NE(back_handle, old_handle);
    EXPECT_EQ(model_from_handle(old_handle), nullptr);
    EXPECT_EQ(model_from_handle(back_handle), back);

    model_purge(true);
    EXPECT_EQ(model_cache_count(), 0);
    EXPECT_EQ(model_from_handle(kept_handle), nullptr);
    EXPECT_EQ(model_from_handle(back_handle), nullptr);
}

TEST_F(model_cache_test, the_service_gives_one_handle_per_model_and_texture)
{
    put("bike/frame.qm", 1);
    EXPECT_FALSE(model_service_present());
    model_install_service();
    ASSERT_TRUE(model_service_present());
    const unsigned a = model_load("@bike/frame.qm", 11);
    const unsigned b = model_load("@bike/frame.qm", 12);
    ASSERT_NE(a, 0u);
    ASSERT_NE(b, 0u);
    EXPECT_NE(a, b);
    EXPECT_EQ(model_load("@bike/frame.qm", 11), a);
    EXPECT_EQ(model_from_handle(a), model_from_handle(b));
    EXPECT_EQ(model_from_handle(a), model_get("@bike/frame.qm"));
    EXPECT_EQ(model_handle_texture(a), 11u);
    EXPECT_EQ(model_handle_texture(b), 12u);
    EXPECT_EQ(model_handle(model_from_handle(a), 11), a);
    EXPECT_EQ(model_load("@bike/missing.qm", 11), 0u);
    // Numbers that were never given answer nothing.
    EXPECT_EQ(model_from_handle(0), nullptr);
    EXPECT_EQ(model_from_handle(a + 1000), nullptr);
    EXPECT_EQ(model_from_handle(a ^ 0x80000000u), nullptr);
    EXPECT_EQ(model_handle(nullptr), 0u);
}
