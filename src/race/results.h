// The results file: when a race's results are final, the classification and
// every finished rider's gate times go to "@results.txt" (lines end in CR LF,
// times from ticks of 1/128 s with milliseconds truncated).
//
// The race rules fill the plain records below from their ranking; nothing
// here reads the bikes.
#pragma once

struct result_rider {
    const char* number = "";        // race number as shown
    const char* model = "";         // bike model name
    bool finished = false;          // only finished riders are written
    int lap_count = 0;              // laps of the penalised progress
    int total_ticks = 0;            // penalised last-gate tick - start_tick
    int best_lap = 0;               // lap number of the best lap, 0 none
    int best_lap_ticks = 0;         // its time
    const int* gate_times = nullptr;  // tick per race gate, -1 skipped
    int gate_count = 0;
};

struct result_race {
    int time_limit_ticks = 0;       // 0 for a race of laps only
    int extra_laps = 0;             // the laps setting
    const char* track_dir = "";     // track directory name
    long date = 0;                  // Unix time of writing
    int start_tick = 0;
    int first_lap_gates = 0;        // entries of the first lap sequence
    int normal_lap_gates = 0;       // entries of the normal lap sequence
};

// Writes the results file (a data name such as "@results.txt", which goes
// into the home directory, or a path) from the penalised ranking, best first. False, with nothing reported, when the file cannot
// be created or written.
bool write_results(const char* file, const result_race* race, const result_rider* ranking, int count);

// "%3d:%02d.%03d" of a tick count (minutes, seconds, milliseconds
// truncated); negative counts are shown as 0. size >= 16.
void results_time_text(int ticks, char* out, int size);
