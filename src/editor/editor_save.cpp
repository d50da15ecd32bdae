// Saving the edited track back into the home directory, the editor's own
// file of gradients ("edinfo"), and the scene export ("track.pov").
//
// A save writes every file of the track beside the track directory first
// (a staging folder inside it) and renames them over the old files only
// once all of them were written and flushed: a full disk or a folder that
// cannot be written leaves the previous files whole, never a new
// "terrain.hf" beside an old "terrain.png".
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cstdarg>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "core/config.h"
#include "core/messages.h"
#include "editor/editor.h"
#include "files/datafs.h"
#include "files/stream.h"
#include "render/model.h"
#include "render/model_file.h"
#include "render/picture.h"
#include "track/track.h"

namespace {

const char* const k_stage_folder = ".editor-save";

// The track's folder as a path on disk ("" when it has none) and its
// files' data name prefix ("@rabbithill", or the path itself).
bool track_folder(const editor_state* e, std::string* folder, std::string* data_name)
{
    char data[1100];
    if (!e->t->dir[0] || !track_data_dir(e->t->dir, data, sizeof data))
        return false;
    // A track named from outside (a demo, a server) never leads a save, or
    // the clearing of its staging folder, out of the home directory.
    if (data_name_problem(data))
        return false;
    *data_name = data;
    if (data[0] == '@') {
        const char* home = data_dir(0);
        if (!home)
            return false;
        *folder = std::string(home) + (data + 1);
    } else {
        *folder = data;
    }
    return true;
}

bool sync_path(const std::string& path, int flags)
{
    const int fd = open(path.c_str(), flags);
    if (fd < 0)
        return false;
    const bool ok = fsync(fd) == 0;
    close(fd);
    return ok;
}

void remove_folder(const std::string& folder)
{
    if (DIR* d = opendir(folder.c_str())) {
        while (const dirent* entry = readdir(d)) {
            if (strcmp(entry->d_name, ".") != 0 && strcmp(entry->d_name, "..") != 0)
                unlink((folder + "/" + entry->d_name).c_str());
        }
        closedir(d);
    }
    rmdir(folder.c_str());
}

// The files of one save, written into the staging folder.
struct staged_save {
    std::string folder;  // the track's folder on disk
    std::string stage;   // folder + "/" + k_stage_folder
    std::vector<std::string> files;
    std::string failed;  // the first file that could not be written
};

void note_failure(staged_save* s, const char* name)
{
    if (s->failed.empty())
        s->failed = name;
}

bool write_bytes(staged_save* s, const char* name, const void* data, size_t size)
{
    data_stream* out = open_data_file((s->stage + "/" + name).c_str(), "wb");
    if (!out) {
        add_message("Can't open '%s'\n", name);
        note_failure(s, name);
        return false;
    }
    bool ok = stream_write(out, data, size) == size;
    ok = stream_flush(out) == 0 && ok && !ferror(out->file);
    close_data_file(out);
    if (!ok) {
        add_message("Can't open '%s'\n", name);
        note_failure(s, name);
        return false;
    }
    s->files.push_back(name);
    return true;
}

// A writer of the track modules wrote (or, with nothing to write, did not
// write) its file into the staging folder.
bool wrote(staged_save* s, const char* name, bool ok)
{
    if (!ok) {
        note_failure(s, name);
        return false;
    }
    struct stat st;
    if (stat((s->stage + "/" + name).c_str(), &st) == 0)
        s->files.push_back(name);
    return true;
}

// Every staged file flushed to the disk, then renamed over its old self.
bool commit(staged_save* s)
{
    for (const std::string& name : s->files) {
        if (!sync_path(s->stage + "/" + name, O_RDONLY)) {
            note_failure(s, name.c_str());
            return false;
        }
    }
    for (const std::string& name : s->files) {
        if (!rename_data_file((s->stage + "/" + name).c_str(), (s->folder + "/" + name).c_str())) {
            note_failure(s, name.c_str());
            return false;
        }
    }
    sync_path(s->folder, O_RDONLY | O_DIRECTORY);
    return true;
}

// The lowest and highest sample (0, 0 for a terrain without samples).
void height_range(const heightfield* hf, float* lo, float* hi)
{
    const size_t count = (size_t)hf->sample_count * (size_t)hf->sample_count;
    *lo = *hi = count ? hf->heights[0] : 0.0f;
    for (size_t k = 1; k < count; k++) {
        *lo = fminf(*lo, hf->heights[k]);
        *hi = fmaxf(*hi, hf->heights[k]);
    }
}

bool write_picture_bytes(staged_save* s, const char* name, picture_bytes* b)
{
    const bool ok = write_bytes(s, name, b->data, b->size);
    picture_bytes_free(b);
    return ok;
}

// "terrain.hf", "terrain.png", the two shading pictures, "tilemap" and
// "decals"; stops at the first file that fails.
bool write_terrain_group(editor_state* e, staged_save* s)
{
    heightfield* hf = e->hf;
    float lo, hi;
    height_range(hf, &lo, &hi);
    hf->height_min = lo;
    hf->height_max = hi;
    picture_bytes hf_file, png_file;
    if (!terrain_encode(hf, false, &hf_file, &png_file)) {
        add_message("Can't open 'terrain.hf'\n");
        note_failure(s, "terrain.hf");
        return false;
    }
    const bool hf_ok = write_picture_bytes(s, "terrain.hf", &hf_file);
    if (!hf_ok) {
        picture_bytes_free(&png_file);
        return false;
    }
    if (!write_picture_bytes(s, "terrain.png", &png_file))
        return false;

    const terrain_light light = lighting_terrain_light(&e->t->lighting);
    heightfield_relight_dirty(hf, &light);
    const int n = hf->sample_count;
    const size_t count = (size_t)n * (size_t)n * 3;
    if (hf->shading_map) {
        char header[64];
        const int len = snprintf(header, sizeof header, "P6\n%d %d\n255\n", n, n);
        std::string doubled(header, (size_t)len), stored(header, (size_t)len);
        doubled.reserve((size_t)len + count);
        for (size_t k = 0; k < count; k++)
            doubled += (char)std::min(255, hf->shading_map[k] * 2);
        stored.append((const char*)hf->shading_map, count);
        if (!write_bytes(s, "shading.ppm", doubled.data(), doubled.size()) ||
            !write_bytes(s, "shadingx2.ppm", stored.data(), stored.size()))
            return false;
    }
    if (hf->tilemap) {
        const size_t side = (size_t)1 << hf->grid_log2;
        if (!write_bytes(s, "tilemap", hf->tilemap, side * side))
            return false;
    }
    return wrote(s, "decals", decals_write(hf, s->stage.c_str()));
}

void write_info(const editor_state* e, std::string* out)
{
    char line[256];
    for (const gradient& g : e->gradients) {
        snprintf(line, sizeof line, "add_gradient %f %f %f %f\n", (double)g.x0, (double)g.z0, (double)g.x1,
                 (double)g.z1);
        *out += line;
        for (size_t i = 0; i < g.points.size(); i++) {
            const int type = i < g.segment_types.size() && g.segment_types[i] == 1 ? 1 : 0;
            snprintf(line, sizeof line, "add_point %d %f %f\n", type, (double)g.points[i].distance,
                     (double)g.points[i].height);
            *out += line;
        }
    }
}

// The first billboard after the fixed sprites (start gate pieces and the
// like are not the track's "billboards").
int first_billboard(const track* t)
{
    const billboard_list& list = t->objects.billboards;
    int k = 0;
    while (k < list.count && list.items[k].sprite_index < t->fixed_sprites)
        k++;
    return k;
}

// The text after a leading word followed by white space or the end; null
// when the line does not start with the word.
const char* after_word(const char* line, const char* word)
{
    const size_t n = strlen(word);
    if (strncmp(line, word, n) != 0 || (line[n] && !isspace((unsigned char)line[n])))
        return nullptr;
    const char* p = line + n;
    while (*p && isspace((unsigned char)*p))
        p++;
    return p;
}

// ---- the scene ------------------------------------------------------------------------

void append_scene_name(const char* data_name, std::string* out)
{
    const char* p = data_name[0] == '@' ? data_name + 1 : data_name;
    const char* slash = strrchr(p, '/');
    const char* begin = slash ? slash : p;
    const char* dot = strrchr(begin, '.');
    const char* end = dot ? dot : begin + strlen(begin);
    if (begin < end && isdigit((unsigned char)*begin))
        *out += '_';
    for (const char* c = begin; c < end; c++)
        *out += isalnum((unsigned char)*c) ? *c : '_';
}

bool ends_with_ppm(const char* name)
{
    const size_t n = strlen(name);
    return n >= 5 && strcmp(name + n - 4, ".ppm") == 0;
}

void append_format(std::string* out, const char* format, ...) __attribute__((format(printf, 2, 3)));
void append_format(std::string* out, const char* format, ...)
{
    char buffer[1024];
    va_list args;
    va_start(args, format);
    const int n = vsnprintf(buffer, sizeof buffer, format, args);
    va_end(args);
    if (n > 0)
        out->append(buffer, std::min((size_t)n, sizeof buffer - 1));
}

void export_statues(const track* t, std::string* out)
{
    const statue_list& list = t->objects.statues;
    std::vector<std::string> declared;
    std::vector<bool> readable((size_t)list.count, false);
    for (int i = 0; i < list.count; i++) {
        const char* name = list.items[i].model_name;
        if (!name)
            continue;
        const auto seen = std::find(declared.begin(), declared.end(), name);
        if (seen != declared.end()) {
            // Stands with the first statue of its model.
            for (int j = 0; j < i; j++)
                if (list.items[j].model_name && strcmp(list.items[j].model_name, name) == 0) {
                    readable[(size_t)i] = readable[(size_t)j];
                    break;
                }
            continue;
        }
        declared.push_back(name);
        model* m = model_read(name);
        if (!m)
            continue;  // a model that does not read has no mesh to declare
        readable[(size_t)i] = true;
        *out += "#declare ";
        append_scene_name(name, out);
        *out += " = ";
        model_export_mesh2(m, out);
        model_free(m);
    }
    *out += "#declare statues = union {\n";
    for (int i = 0; i < list.count; i++) {
        const statue& s = list.items[i];
        if (!s.model_name || !readable[(size_t)i])
            continue;
        *out += "\tobject {\n\t\t";
        append_scene_name(s.model_name, out);
        *out += "\n";
        if (s.texture_name && s.texture_name[0]) {
            const char* texture = s.texture_name[0] == '@' ? s.texture_name + 1 : s.texture_name;
            append_format(out, "\t\ttexture { uv_mapping pigment { image_map { %s \"%s\"} } scale <1,-1,1> }\n",
                          ends_with_ppm(s.texture_name) ? "ppm" : "png", texture);
        }
        const float(*r)[3] = s.rotation;
        append_format(out, "\t\tmatrix <%f,%f,%f,%f,%f,%f,%f,%f,%f,0,0,0>\n", (double)r[0][0], (double)r[1][0],
                      (double)r[2][0], (double)r[0][1], (double)r[1][1], (double)r[2][1], (double)r[0][2],
                      (double)r[1][2], (double)r[2][2]);
        append_format(out, "\t\ttranslate <%f,%f,%f>\n", (double)s.x, (double)s.y, (double)s.z);
        *out += "\t}\n";
    }
    *out += "}\n";
}

bool write_text(data_stream* s, void* context)
{
    const std::string* text = (const std::string*)context;
    return stream_write(s, text->data(), text->size()) == text->size();
}

}  // namespace

bool editor_save(editor_state* e)
{
    if (!e)
        return false;
    staged_save s;
    std::string data_name;
    if (!track_folder(e, &s.folder, &data_name)) {
        e->status = "Can't save this track!";
        return false;
    }
    s.stage = s.folder + "/" + k_stage_folder;
    remove_folder(s.stage);  // what a crash in an earlier save left

    track* t = e->t;
    const char* stage = s.stage.c_str();
    bool ok = wrote(&s, "billboards", billboards_write(&t->objects, stage, first_billboard(t)));
    ok = ok && wrote(&s, "timing_gates", save_timing_gates(&t->timing_gates, stage));
    ok = ok && write_terrain_group(e, &s);
    ok = ok && wrote(&s, "statues", statues_write(&t->objects, stage, t->fixed_statues));
    if (ok) {
        std::string info;
        write_info(e, &info);
        ok = write_bytes(&s, "edinfo", info.data(), info.size());
    }
    ok = ok && commit(&s);
    remove_folder(s.stage);
    if (!ok) {
        snprintf(e->status_buffer, sizeof e->status_buffer, "Not saved: can't write '%s'!",
                 s.failed.empty() ? "?" : s.failed.c_str());
        e->status = e->status_buffer;
        return false;
    }
    e->hf->changed_marker &= ~2;
    e->status = "Saved!";
    // Robots stand braked without lines: they ride the centre line until
    // new lines are ridden.
    if (editor_sections_changed(e))
        add_message("The track's sections changed: its racing lines no longer fit; robots ride the centre line "
                    "until 'kessrig-sim learn' rides new ones\n");
    else if (editor_gates_moved(e))
        add_message("A timing gate moved: the track's racing lines may miss it; 'kessrig-sim learn' rides new "
                    "ones\n");
    return true;
}

namespace {

// "edinfo" numbers are feet on and around a track: anything further out is
// a broken file, and would overflow the gradient arithmetic into infinite
// heights. The counts keep a hostile file from costing unbounded time
// (each point is put into its place in order).
bool in_reach(float v)
{
    return std::isfinite(v) && std::fabs(v) <= 1.0e6f;
}
const size_t k_most_gradients = 4096;
const size_t k_most_profile_points = 4096;

}  // namespace

void editor_read_info(editor_state* e)
{
    std::string folder, data_name;
    data_stream* in = nullptr;
    if (track_folder(e, &folder, &data_name))
        in = open_data_file((data_name + "/edinfo").c_str(), "rb");
    if (in) {
        char line[1000];
        gradient* g = nullptr;
        while (stream_gets(in, line, (int)sizeof line)) {
            const char* p = line;
            while (*p && isspace((unsigned char)*p))
                p++;
            float v[4];
            int type;
            if (const char* rest = after_word(p, "add_gradient")) {
                if (sscanf(rest, "%f %f %f %f", &v[0], &v[1], &v[2], &v[3]) != 4 || !in_reach(v[0]) ||
                    !in_reach(v[1]) || !in_reach(v[2]) || !in_reach(v[3]) ||
                    e->gradients.size() >= k_most_gradients)
                    continue;
                gradient n;
                n.x0 = v[0];
                n.z0 = v[1];
                n.x1 = v[2];
                n.z1 = v[3];
                n.points.reserve(16);
                n.segment_types.reserve(16);
                e->gradients.push_back(n);
                e->current_gradient = (int)e->gradients.size() - 1;
                g = &e->gradients.back();
            } else if (const char* rest = after_word(p, "add_point")) {
                if (!g || sscanf(rest, "%d %f %f", &type, &v[0], &v[1]) != 3 || !in_reach(v[0]) ||
                    !in_reach(v[1]) || g->points.size() >= k_most_profile_points)
                    continue;
                // Profiles run in increasing distance: a point written out
                // of order goes to its place.
                size_t at = g->points.size();
                while (at > 0 && g->points[at - 1].distance > v[0])
                    at--;
                g->points.insert(g->points.begin() + (long)at, {v[0], v[1]});
                g->segment_types.insert(g->segment_types.begin() + (long)at, (uint8_t)(type == 1 ? 1 : 0));
            }
        }
        close_data_file(in);
    }
    e->status = "OK";
    e->hf->changed_marker = 0;
}

bool export_scene(editor_state* e)
{
    if (!e)
        return false;
    std::string folder, data_name;
    if (!track_folder(e, &folder, &data_name)) {
        e->status = "Can't open 'track.pov'";
        return false;
    }
    const track* t = e->t;
    std::string out;
    if (t->objects.statues.count > 0)
        export_statues(t, &out);
    out += "#declare billboards = union {\n";
    const track_objects& objects = t->objects;
    for (int k = 0; k < objects.billboards.count; k++) {
        const billboard& b = objects.billboards.items[k];
        if (!b.texture_name || !b.texture_name[0] || b.sprite_index < 0 || b.sprite_index >= objects.sprites.count)
            continue;
        const sprite& sp = objects.sprites.items[b.sprite_index];
        out += "object {\n\t";
        append_scene_name(b.texture_name, &out);
        append_format(&out, "()\n\ttranslate <%f,%f,%f>\n", (double)sp.x, (double)sp.y, (double)sp.z);
        out += "}\n";
    }
    out += "}\n";
    float lo, hi;
    height_range(e->hf, &lo, &hi);
    out += "#declare ground = height_field {\n\tpng \"terrain.png\"\n";
    append_format(&out, "\tscale <1, 1, -1>\n\ttranslate <0, 0, 1>\n\tscale <%f,%f,%f>\n", (double)e->extent,
                  (double)(hi - lo), (double)e->extent);
    append_format(&out, "\ttranslate <0,%f,0>\n}\n", (double)lo);
    if (!replace_data_file((data_name + "/track.pov").c_str(), write_text, &out)) {
        e->status = "Can't open 'track.pov'";
        return false;
    }
    e->status = "Pov!";
    return true;
}
