// What the heads-up display shows about a race, computed without drawing:
// the pit board's lines, the gap between two riders, the lapping warning,
// the race length banner, the results table with its penalty lines, the
// television ticker and lap board, the read-out lines and the rings of the
// suspension graph. The drawing (src/ui) only places these texts.
//
// Times come from ticks of 1/128 s; the short form is minutes, two-digit
// seconds and tenths (truncated), the long form has milliseconds.
#pragma once

#include "race/race.h"

struct world;
struct bike;

enum {
    DISPLAY_TEXT_MAX = 128,
    SUSPENSION_GRAPH_SAMPLES = 1024,
    SUSPENSION_GRAPH_TRACES = 6,
    READOUT_LINES_MAX = 16,
};

// "%d:%02d.%d" of seconds (negative shows as 0).
void short_time_text(double seconds, char* out, int size);
// "%d:%02d.%03d" of ticks (negative shows as 0).
void long_time_text(int ticks, char* out, int size);

// ---- gaps --------------------------------------------------------------------------

// A rider as a ranking shows him: progress and last-gate tick of the
// ranking entry (the results ranking's are penalised) and the gate times.
struct shown_rider {
    int progress = 0;
    int last_tick = 0;
    const int* gate_times = nullptr;  // tick per race gate, -1 skipped
    int gate_count = 0;
};
shown_rider shown_rider_of(const world* w, const ranking_entry& e);

// Seconds between two riders, positive when `other` passed later: with equal
// progress their last-gate ticks, else both ticks at the gate before the
// lower progress. 0 when a tick is missing.
double rider_gap(const shown_rider& me, const shown_rider& other);
// The gap of list[index] to the rider one place ahead (the leader's to the
// second); 0 with fewer than two riders.
double ranking_gap(const world* w, const ranking_entry* list, int count, int index);

// ---- the pit board -------------------------------------------------------------------

struct pit_board {
    char number[8] = {};
    char position[32] = {};              // "L%d P%d", or "%d" in a time trial
    char gap[32] = {};                   // "%+.1f "
    char last[48] = {};                  // "Last - %d:%02d.%d ", or empty
    char best[48] = {};                  // "Best - %d:%02d.%d", or empty
    char lapping[DISPLAY_TEXT_MAX * 2] = {};  // the riders about to lap, or empty
};
// False when the slot has no bike.
bool pit_board_of(const world* w, int slot, pit_board* out);

// ---- the race length banner ---------------------------------------------------------------

// Alpha of the banner t seconds after the reset: 1 until 2 s, fading to 0 at 3 s.
float banner_alpha(double seconds);
// "%d laps", "%d minutes" or "%d minutes + %d laps" (time limit in ticks,
// rounded to whole minutes).
void race_length_text(int minutes_ticks, int extra_laps, char* out, int size);

// ---- the results table -----------------------------------------------------------------

struct results_row {
    int position = 0;           // 1-based
    char number[8] = {};
    int laps = 0;
    double gap = 0;             // seconds, positive
    int best_ticks = 0;         // 0: no best lap yet
    int best_lap = 0;
    bool watched = false;
};
struct results_table {
    bool shown = false;         // the first rider of the shown ranking has finished
    bool final = false;
    int count = 0;
    results_row rows[RACE_SLOTS];
    char total[64] = {};        // "Total Race Time: ..." when final
    int penalty_count = 0;
    char penalties[RACE_SLOTS][DISPLAY_TEXT_MAX] = {};
};
void results_table_of(const world* w, int watched_slot, results_table* out);
// "%3s penalized ", then "%d %s " with "lap"/"laps" when laps were lost,
// then "%.2f seconds for cutting track".
void penalty_line(const char* number, int laps_lost, double seconds, char* out, int size);
// The columns of a row: "%d", "%3s", "L%d", "%7.3f", "%d:%02d.%03d", "(%d)".
void results_row_texts(const results_row& r, char columns[6][32]);

// ---- the television overlay -------------------------------------------------------------

struct ticker_entry {
    char text[DISPLAY_TEXT_MAX] = {};
};
// The ranking (the results ranking when final) as ticker entries, without
// the local player in a warm-up: "%d %3s name" and from the second on the
// time behind the leader " %7.3f" (only when behind). Returns the count.
int ticker_entries_of(const world* w, ticker_entry* out, int max);
// The ticker's scroll in entries at sim_clock: one entry every 2 s, smooth
// between, wrapping around count + 1 entries (one empty).
double ticker_scroll(double sim_clock, int count);

enum lap_board_kind { lap_board_plain, lap_board_last_lap, lap_board_chequered };
// "Lap %d" with the leader's lap + 1 while the distance is not done.
lap_board_kind lap_board_of(const world* w, char* text, int size);

// ---- read-outs -----------------------------------------------------------------------------

struct readout_input {
    bool fps_on = false;
    int fps = 0;
    bool time_on = false;
    bool ping_on = false;          // the switch and a connection with an own slot
    int ping_ms = 0, offset_ms = 0;
    bool speed_on = false;
    double speed = 0;              // ft/s of the watched frame body
    bool render_stats = false;
    long stats[6][2] = {};         // current and maximum of each counter
    bool dabbing = false;
};
// The lines in their order (the message lines follow them); returns the count.
int readout_lines(const world* w, const readout_input& in, char lines[][DISPLAY_TEXT_MAX], int max);

// ---- the suspension graph ------------------------------------------------------------------

struct suspension_graph {
    // fork position, fork high- and low-speed velocity, swingarm position,
    // shock high- and low-speed velocity.
    float samples[SUSPENSION_GRAPH_TRACES][SUSPENSION_GRAPH_SAMPLES] = {};
    int index = 0;
    bool reset = true;   // the next wrap clears the rings
};
// Adds one tick's values; when the index wraps from the last sample to 0
// after a reset, the rings are cleared first.
void suspension_graph_push(suspension_graph* g, const float values[SUSPENSION_GRAPH_TRACES]);
// The watched bike's values for the graph (feet and ft/s).
void suspension_graph_sample(const bike* b, float values[SUSPENSION_GRAPH_TRACES]);
