// Racing lines: short recorded paths through the track, each the points of
// one section between two timing gates with the times of that section and
// the next, ridden by human (or test) riders, tried by the robots and
// ranked by how the robots fared on them, evicted when a section is full,
// chained into whole laps, and kept per track and skill in a lines file
// ("lines_novice", "lines_amateur", "lines_expert" in the track's
// directory).
//
// Sections: the race gates that are section boundaries (real gates) cut a
// race into sections; section s runs from real gate s - 1 (the start for
// s = 0) to real gate s, and maps to a row of the table (the first lap's
// rows, then the lap's rows over and over). A line of row r holds the
// points of one section of row r; its time_first is that section's time
// and time_total adds the section after it, so a line is judged by how
// well it leaves the rider set for the next one.
//
// The table belongs to one world (robots.h keeps it in the robots' record
// of that world): two worlds never share lines, picks or serial numbers.
// Everything here runs inside the world tick or a world reset and reads
// no clock. Units: ticks (1/128 s), feet.
#pragma once

#include <cstdint>

#include "bike/bike.h"

struct world;
struct data_stream;
struct track_timing;

enum {
    LINES_PER_ROW = 45,
    LINE_PLAN_TYPES = 3,      // lap plans are kept for types 0..2; type 3 explores
    LINE_NO_TIME = 1000000,   // ticks: no time known
    // A line holds at most this many points (34 minutes at four a second):
    // a recording that grows longer is dropped, a file that claims more is
    // broken.
    LINE_MAX_POINTS = 8192,
    // Sections a robot's chain of lines looks ahead when it picks one.
    LINE_CHAIN_SECTIONS = 8,
};

struct racing_line {
    line_point* points = nullptr;   // owned (mem_*); null: an empty slot
    int point_count = 0;
    int time_first = LINE_NO_TIME;  // ticks of its own section
    int time_total = LINE_NO_TIME;  // ticks of its section and the next
    int runs = 0;                   // robots that completed it
    int best_first = LINE_NO_TIME;  // the fastest robot times (ticks)
    int best_total = LINE_NO_TIME;
    int64_t sum_first = 0;          // robot times summed over runs
    int64_t sum_total = 0;
    int failures = 0;               // robots that crashed on it or lost it
    int last_picked = 0;            // tick a robot last picked it (or one ending near it)
    int serial = 0;                 // unique in this table's life, never 0
};

struct line_row {
    racing_line lines[LINES_PER_ROW];
};

struct line_table {
    line_row* rows = nullptr;  // row_count rows (owned)
    int first_sections = 0;    // real section gates of the first lap
    int lap_sections = 0;      // real section gates of a lap
    int row_count = 0;
    int next_serial = 1;
    // Per plan type 0..2, one serial per row (0: none).
    int* plans[LINE_PLAN_TYPES] = {};
    // The lines file of the track and skill; saved back to in learn mode.
    char file[512] = "";
    bool loaded = false;       // set up for a track with timing data
    int debug = 0;             // 1 or more: the racing lines' log lines
};

// ---- sections and rows ---------------------------------------------------------

// The row of a race section index (first-lap rows, then the lap's rows
// repeating); -1 when the table has no rows or section < 0.
int line_row_of_section(const line_table* t, int section);
// True when race gate k is a section boundary.
bool line_gate_is_section(const track_timing* timing, int k);
// The section index a bike is in at gate progress p: the number of real
// gates among race gates 0 .. p - 1.
int line_section_at(const track_timing* timing, int progress);
// The race gate of the real gate before race gate k (k itself not counted),
// or -1 when there is none.
int line_previous_section_gate(const track_timing* timing, int k);

// ---- the table -------------------------------------------------------------------

// Appends a point to a bike's path or recording (grown with mem_*; running
// out of memory ends the program).
void line_points_push(line_point_list* list, const line_point& p);

// Frees every line and the rows; the table has no rows afterwards.
void lines_free(line_table* t);
// Rows for the timing data (one per real gate of both sequences), every
// slot empty, plans cleared, the file name kept. No rows without timing
// data.
void lines_rebuild(line_table* t, const track_timing* timing);
// Empties every slot (the rows and the file name stay).
void lines_clear(line_table* t);
// Puts points into an empty slot (copies them) with fresh statistics and a
// new serial; returns the slot's line.
racing_line* lines_store(line_table* t, int row, int slot, const line_point* points, int count, int time_first,
                         int time_total);
// Empties one slot.
void lines_evict(line_table* t, int row, int slot);
// Non-empty lines in a row.
int lines_in_row(const line_table* t, int row);
// The slot of a serial in a row, or -1 (also for serial 0).
int line_by_serial(const line_table* t, int row, int serial);
// The serial the lap plan of a type (0..2) chooses for a row (0: none).
int lap_plan(const line_table* t, int type, int row);

// ---- costs ----------------------------------------------------------------------

// The ranking cost of a line for a plan type (0..3; ticks, lower is better):
// types 0 to 2 rank by proven speed with growing weight on failures and
// cost 1000000 while too little tested; type 3 favours little-tested lines.
double line_cost(const racing_line* line, int type);
// What keeping a line is worth when a full row must give one up (ticks):
// its time, plus 5 s when robots failed on it.
int line_eviction_cost(const racing_line* line);
// The slot a new line would replace in a full row: the highest eviction
// cost among the candidates (lines starting 2 ft or more from every other
// count three quarters; good lines, with fewer failures than runs, are
// kept while fewer than 23 exist). -1 for an empty row. cost receives the
// victim's cost.
int line_eviction_victim(const line_table* t, int row, int* cost);

// ---- geometry shared with the auto pilot ------------------------------------

// The centre (x, z) of the circle through three points in the ground
// plane; for points in a line the centre lies 1000000 ft out to the left of
// the last segment.
void line_circle_centre(const line_point& a, const line_point& b, const line_point& c, double* cx, double* cz);
// True when line j can follow line i: j starts on the arc i ends on (within
// 2.5 ft), heading along it, no more than 15 ft/s slower than i ends.
bool lines_connect(const racing_line* i, const racing_line* j);

// ---- plans ----------------------------------------------------------------------

// The chain of connected lines with the least total plan cost over `span`
// sections from `section`: best[slot] receives, for each slot of the first
// row, the least chain cost starting with it (a very large value for an
// empty slot). A missing connection costs as much as ten untested lines,
// so a chain always exists.
void lines_chain_costs(const line_table* t, int type, int section, int span, double best[LINES_PER_ROW]);
// Computes the lap plans of types 0..2 (the first lap as a chain, the lap
// as a cycle); with debug logs "First lap: %f\n" and "Normal lap: %f\n".
void lines_compute_plans(line_table* t);
// Thins the first-lap rows that hold 44 lines or more down below 44:
// lines crossing the most others go first, each with the row's eviction
// victim.
void lines_thin(line_table* t);

// ---- recording and statistics (called through the world's robot hooks) ----------

// Per participant what the recording and the statistics remember between
// ticks (kept by the robots' record of the world, one per slot).
struct line_rider {
    const bike* owner = nullptr;   // the bike this belongs to; another bike starts afresh
    bool cancelled[2] = {};        // a recording buffer holds a crash
    int crash_count = 0;           // the bike's crash count when last looked at
    int gate_crash_count = 0;      // the bike's crash count at its last gate
    bool overflowed[2] = {};       // a recording buffer ran past LINE_MAX_POINTS
    int first_sample[2] = {-1, -1}; // tick of each buffer's first point (-1: empty)
    int progress = 0;              // the bike's gate progress when last looked at
};

// One tick of a bike the simulation drives, after its gate test (passed:
// it passed a gate this tick). A rider without a robot personality is
// recorded: a point every 32 ticks, a line for a row finished at each real
// gate. A robot's gate rates the lines it followed, and its crashes count
// as failures of the lines it was on. u is the robot's path position (the
// auto pilot's), needed for robots only.
void lines_record_tick(line_table* t, line_rider* r, world* w, bike* b, bool passed, float u);

// ---- the file ---------------------------------------------------------------------

// The lines file of a track directory and skill (0 novice, 1 amateur, 2
// expert; others clamped): "@DIR/lines_novice", or DIR/... for a track given
// as a path. False when it does not fit.
bool lines_file_name(const char* track_dir, int skill, char* out, size_t size);
// Reads a lines file into t's rows (which must be built): used only when
// its row count equals the table's; each row's lines fill slots 0, 1, ...
// (lines beyond 45 are skipped), each with a new serial and its statistics
// folded into range. A file that stops parsing (a bad, negative or
// non-finite number, a count out of range, a truncated line) keeps the
// lines read before the fault and says so in the log. Returns the lines
// read; -1 when the row count differs or the header is wrong.
int lines_read(line_table* t, data_stream* s, const char* name);
// Writes the table in the file format. False when a write failed.
bool lines_write(const line_table* t, data_stream* s);
// Writes the table to its file through a new file renamed over the old
// one, so a crash never leaves a broken file. False when it could not.
bool lines_save(const line_table* t);
// Folds statistics into range (sums up to 100000000, runs and failures up
// to 65535, the mean time kept while halving).
void lines_fold_statistics(racing_line* line);

// At every world reset: saves the table to its file when learn mode is on
// and the table was set up for a track (also when no file was read: a new
// track gets its first file), then empties every slot.
void lines_reset(line_table* t, bool learn);
// After the track is (re)loaded: rows for its timing gates, then the lines
// file of the skill read, the first-lap rows thinned and the lap plans
// computed ("Analyzing lines").
void lines_load(line_table* t, const world* w, int skill);
