// The points series of the default data: a short championship over the
// generated tracks, two motos a round on each and a single-moto final.
#include <cstdio>

#include "track_content.h"
#include "track_ground.h"

namespace mkdata {

const char* const series_file_name = "kessrig-cup.series";

namespace {

// Points by finishing position: 25, 22, 20, 18, 16, 15 down to 1 for
// twentieth, nothing further back.
void points_row(std::string* text, bool award)
{
    static const int top[] = {25, 22, 20, 18, 16};
    for (int p = 0; p < 40; p++) {
        int v = 0;
        if (award)
            v = p < 5 ? top[p] : (p < 20 ? 20 - p : 0);
        *text += std::to_string(v) + (p < 39 ? " " : "\n");
    }
}

struct event_plan {
    const char* name;
    int track;  // index into generated_tracks()
    int minutes, laps;
    bool ends_round;
};

}  // namespace

std::string series_text()
{
    const std::vector<generated_track>& tracks = generated_tracks();
    // Fourteen robots from every class of the roster.
    static const int robots[] = {22, 27, 31, 36, 43, 47, 52, 58, 63, 67, 74, 78, 85, 93};
    const int robot_count = (int)(sizeof robots / sizeof robots[0]);
    std::vector<event_plan> events;
    const size_t second = tracks.size() > 1 ? 1 : 0;
    events.push_back({"Moto 1", 0, 0, 3, false});
    events.push_back({"Moto 2", 0, 0, 3, true});
    events.push_back({"Moto 1", (int)second, 0, 5, false});
    events.push_back({"Moto 2", (int)second, 0, 5, true});
    events.push_back({"Final", 0, 10, 1, true});

    std::string text = "\"Kessrig Cup\"\n";
    text += std::to_string(robot_count) + " Amateur\n";
    for (int i = 0; i < robot_count; i++)
        text += std::to_string(robots[i]) + (i + 1 < robot_count ? " " : "\n");
    text += std::to_string(events.size()) + "\n";
    for (const event_plan& e : events) {
        const track_design& d = *tracks[e.track].design;
        text += "\"" + d.display_name + " " + e.name + "\" " + d.dir + " ";
        text += std::to_string(e.minutes) + " " + std::to_string(e.laps) + "\n";
        points_row(&text, true);
        points_row(&text, e.ends_round);
    }
    return text;
}

void add_series(output& out)
{
    add_text_member(out, series_file_name, series_text());
}

}  // namespace mkdata
