// Points series: championships defined by ".series" data files. A series
// has a field of robot riders (identified by race number) plus the player
// and a list of events (motos); consecutive motos form a round, the last
// moto of a round awards round points and the standings sum them. Each
// event's outcome is kept in a standings file beside the series file, so a
// series carries on in a later run.
//
// The race rules start events through start_series_event (then run the
// world reset with what it fills) and hand their ranking to
// score_series_event; the menu reads the standings and the cell texts.
#pragma once

#include <cstddef>

struct data_stream;

enum {
    SERIES_MAX_ROBOTS = 159,   // K < 160
    SERIES_MAX_RIDERS = 160,   // robots + the player
    SERIES_POINTS = 40,        // points tables by position
    SERIES_LINEUP_SLOTS = 160, // participant slots of a world reset
    SERIES_LIST_PAGE = 20,     // series shown per menu page
    SERIES_ROUNDS_PAGE = 8,    // rounds shown per standings page
    SERIES_TEXT_MAX = 1023,    // longest name in a series file
};

enum series_skill {
    series_skill_novice = 0,
    series_skill_amateur = 1,
    series_skill_expert = 2,
};

struct series_event {
    char* name = nullptr;  // owned
    int track = 0;         // index into the track list
    int minutes = 0;
    int laps = 0;
    int moto_points[SERIES_POINTS] = {};   // by finishing position, 0 = winner
    int round_points[SERIES_POINTS] = {};  // first entry 0: not the last moto of a round
    // Per rider (0..K-1 the robots in file order, K the player): finishing
    // position, 0-based; K means no result.
    int finish[SERIES_MAX_RIDERS] = {};
    // Round classification (round-ending events only), 0-based.
    int round_position[SERIES_MAX_RIDERS] = {};
};

struct points_series {
    char* name = nullptr;            // owned, from the file
    char* file = nullptr;            // owned, the data file name as listed
    char* standings_path = nullptr;  // owned, "@" + file + "_standings"
    int skill = series_skill_expert;
    int robot_count = 0;             // K
    int robot_numbers[SERIES_MAX_ROBOTS] = {};
    series_event* events = nullptr;  // owned
    int event_count = 0;
    int event_capacity = 0;
    int completed = 0;               // events with a result
};

// Every series found, and what is being raced.
struct series_set {
    points_series* items = nullptr;
    int count = 0;
    int capacity = 0;
    int racing_series = -1;  // series whose event is being raced, -1 none
    int racing_event = -1;
    int selected = 0;        // the menu's selection and page
    int page = 0;
};

// ---- loading ---------------------------------------------------------------------

// Parses a series file: name; "K SKILL"; K race numbers; the event count;
// per event its name, track directory, minutes and laps, 40 moto points and
// 40 round points. Text items are double-quoted strings or single words.
// The track must be one of track_dirs (compared without regard to case).
// Rejects (false, out freed) a K outside 0..159, a missing or malformed
// number, a negative race number or event count, or an unknown track.
// debug logs "series %s (%s)\n" and "  event %s (%s)\n". file names the
// series for the log and the standings path.
bool series_parse(data_stream* s, const char* file, const char* const* track_dirs, int track_count, int debug,
                  points_series* out);
void series_free(points_series* series);

// Reads the standings lines (K + 1 numbers each, the finishing positions
// + 1); the first short line ends them. Sets completed (at most the event
// count) and recomputes the round classification.
void series_read_standings(points_series* series, data_stream* s);
// Opens the series' standings file; a missing one means no results.
void series_load_standings(points_series* series);

// Loads every name of files (a null-terminated list, such as the data file
// list) that ends in ".series", with its standings. Files that cannot be
// opened or parsed are skipped. Replaces what the set held; returns the
// number of series.
int load_series(series_set* set, const char* const* files, const char* const* track_dirs, int track_count,
                int debug);
void series_set_free(series_set* set);

// ---- rounds and standings --------------------------------------------------------------

// Recomputes every round-ending completed event's round classification.
void series_classify_rounds(points_series* series);

// Rounds: runs of events ending at a round-ending event (a trailing run
// without one is a last round that never completes).
int series_round_count(const points_series* series);
// First and last event index of a round; false when out of range.
bool series_round_events(const points_series* series, int round, int* first, int* last);

struct standing_row {
    int rider = 0;   // 0..K-1 robots, K the player
    int points = 0;
};
// Standings, best first (points, then the better round position in the
// latest counted round, then rider order). rows holds K + 1 entries;
// returns K + 1.
int series_standings(const points_series* series, standing_row* rows);
// Points of one rider over the completed rounds.
int series_rider_points(const points_series* series, int rider);

// The standings cell of a rider in a round: "%d (%d)" for a single moto
// (round points, round position + 1); "%d (%d-%d)" and "%d (%d-%d-%d)" for
// two and three motos (moto positions + 1); "- (%d-)" while only some motos
// are done; empty before.
void series_cell_text(const points_series* series, int rider, int round, char* out, size_t size);
// "Next Event: %.900s" or "%.900s Final Standings".
void series_heading_text(const points_series* series, char* out, size_t size);
// "No." column: a robot's race number, or player_number for the player.
void series_number_text(const points_series* series, int rider, const char* player_number, char* out,
                        size_t size);

// ---- events -------------------------------------------------------------------------

// What a world reset needs to run a series event.
struct series_start {
    int event = 0;        // index of the event
    int track = 0;        // index into the track list
    int minutes_ticks = 0;
    int laps = 0;
    int skill = series_skill_expert;
    int lineup[SERIES_LINEUP_SLOTS] = {};  // 1000 + race number, 1 the player, 0 empty
};

// The grid slot order for later events of a series with `robots` robots:
// every second slot from 6 up to 14 robots, centre-out from slot 10 beyond.
// Fills count entries (up to SERIES_LINEUP_SLOTS).
void series_grid_order(int robots, int* order, int count);

// Prepares the next event (false when every event is done): the first
// event lines the robots up in file order with the player behind them;
// later events place the riders by the previous event's finish, worst
// first, along the grid order.
bool start_series_event(const points_series* series, series_start* out);

// The menu's "Enter Next Event" after a successful world reset: remembers
// the series and its next event as the one being raced.
void series_begin_racing(series_set* set, int series);
// "Reset Points": no completed events; the file is rewritten at the next
// scored event.
void series_reset_points(series_set* set, int series);

// One entry of the ranking as scoring sees it.
struct series_ranked_rider {
    const char* number = "";   // race number text
    bool local_player = false;
    bool finished = false;
    bool cut_penalty = false;  // a cutting penalty by the section averages
};

// Scores the event being raced when it is the series' next one: walks the
// ranking (the penalised results ranking when results_final, else the live
// one) giving positions to the player (when final, or finished without a
// cutting penalty) and to each series robot whose number matches (as "%d"
// text); then completed + 1, the rounds are recomputed, the event is
// forgotten and the standings file rewritten (silently lost when it cannot
// be written). Returns whether an event was scored.
bool score_series_event(series_set* set, const series_ranked_rider* ranking, int count, bool results_final);

// Writes the standings file of a series.
bool series_write_standings(const points_series* series);
