// A ".braap" file (first byte even) or a sound table (odd) over arbitrary
// bytes, then some synthesis with what was read. Every value the
// synthesis produces must stay inside the ring and the clamp, whatever the
// file said. The data directory is a scratch folder: every "@....raw" name
// the input mentions is given a short sample file there (up to a limit),
// so tables can load their cells; the built-in tables carry the synthesis
// otherwise.
#include <sys/stat.h>

#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <set>
#include <string>

#include "audio/engine_sound.h"
#include "files/datafs.h"
#include "files/memory.h"
#include "fuzz_accept.h"
#include "picture_fuzz_input.h"

namespace {

std::string g_home;
std::set<std::string> g_samples;

void set_up()
{
    if (!g_home.empty())
        return;
    char templ[] = "/tmp/kessrig-fuzz-sound-XXXXXX";
    if (!mkdtemp(templ))
        abort();
    g_home = templ;
    mkdir((g_home + "/game").c_str(), 0700);
    mkdir((g_home + "/xdg").c_str(), 0700);
    setenv("KZ_HOME", (g_home + "/game").c_str(), 1);
    setenv("XDG_DATA_HOME", (g_home + "/xdg").c_str(), 1);
}

bool sample_name_char(char c)
{
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_' || c == '-' ||
           c == '.' || c == '/';
}

// Writes a sample file for each new "@NAME.raw" of plain characters in the
// input; the data index is rebuilt when one was added.
void provide_samples(const uint8_t* data, size_t size)
{
    const std::string text(reinterpret_cast<const char*>(data), size);
    bool added = false;
    for (size_t at = text.find('@'); at != std::string::npos && g_samples.size() < 256; at = text.find('@', at + 1)) {
        size_t end = at + 1;
        while (end < text.size() && end - at < 100 && sample_name_char(text[end]))
            end++;
        const std::string name = text.substr(at + 1, end - at - 1);
        if (name.size() < 5 || name.compare(name.size() - 4, 4, ".raw") != 0 || name.find("..") != std::string::npos ||
            name[0] == '/' || g_samples.count(name))
            continue;
        std::string path = g_home + "/game";
        for (size_t slash = name.find('/'); slash != std::string::npos; slash = name.find('/', slash + 1))
            mkdir((path + "/" + name.substr(0, slash)).c_str(), 0700);
        FILE* f = fopen((path + "/" + name).c_str(), "wb");
        if (!f)
            continue;
        for (int i = 0; i < 200; i++) {
            const int16_t v = (int16_t)(12000 * std::sin(i * 0.19));
            fputc(v & 0xff, f);
            fputc((v >> 8) & 0xff, f);
        }
        fclose(f);
        g_samples.insert(name);
        added = true;
    }
    if (added) {
        free_file_index();
        build_file_index();
    }
}

void check_sound(engine_sound* s)
{
    // Short frames at rising engine speeds, then one asking for more than a
    // frame may hold: about a third of a second in all, which still runs
    // many engine cycles (synthesis is where the time of a run goes).
    for (int f = 0; f < 6; f++)
        engine_sound_render(s, 2000.0f + 3000.0f * f, f % 2 ? 10.0f : -10.0f, f < 5 ? 1024 : SOUND_MAX_FRAME + 1);
    for (float v : s->history)
        if (!(v >= -16 && v <= 16))
            __builtin_trap();
    if (s->write_pos < 0 || s->write_pos >= SOUND_RING || s->bias_count < 1 || s->scale_count < 1)
        __builtin_trap();
    for (int t = 0; t < PIPE_TAPS; t++)
        if (s->tap_delay[t] < 0 || s->tap_delay[t] >= SOUND_RING)
            __builtin_trap();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size < 1)
        return 0;
    set_up();
    const bool table = data[0] & 1;
    memory_input in(data + 1, size - 1);
    if (!in.open)
        return 0;
    static auto s = std::make_unique<engine_sound>();
    engine_sound_init(s.get(), nullptr, nullptr);
    if (table) {
        provide_samples(data + 1, size - 1);
        sound_table t;
        if (read_sound_table(&t, &in.stream)) {
            fuzz_accept();
            if (t.rows < 1 || t.rows > SOUND_TABLE_MAX_DIM || t.cols < 1 || t.cols > SOUND_TABLE_MAX_DIM)
                __builtin_trap();
            for (int i = 0; i < t.rows * t.cols; i++) {
                const sound_cell& c = t.cells[i];
                if (!c.samples || c.sample_count < 1 || c.periods < 1 || c.periods > c.sample_count)
                    __builtin_trap();
                for (int k = 0; k < c.remap_count; k++)
                    if (c.remap[k] < 0 || c.remap[k] >= c.periods)
                        __builtin_trap();
            }
            s->table = &t;
            check_sound(s.get());
            // The cells belong to t (no cache holds it); the samples they
            // point at go with the caches.
            for (int i = 0; i < t.rows * t.cols; i++)
                mem_free(t.cells[i].remap);
            mem_free(t.cells);
        }
        engine_sound_free_tables();
        return 0;
    }
    read_braap(s.get(), &in.stream);
    // The reader has no failure: unknown lines are skipped. It took the
    // input when it read it to the end.
    if (stream_peekc(&in.stream) < 0)
        fuzz_accept();
    // The last two lines of init: empty lists become neutral.
    if (s->bias_count == 0) {
        s->bias[0] = 0;
        s->bias_count = 1;
    }
    if (s->scale_count == 0) {
        s->scale[0] = 1;
        s->scale_count = 1;
    }
    check_sound(s.get());
    engine_sound_free_tables();
    return 0;
}
