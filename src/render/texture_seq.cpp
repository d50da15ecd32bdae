// The animated ".seq" files and the one-line "LINK" files, read without GL.
#include <cctype>
#include <cstring>

#include "files/memory.h"
#include "platform/log.h"
#include "render/picture.h"
#include "render/texture.h"
#include "render/texture_files.h"

namespace {

// Appends one value to a growing array, doubling its room; the array never
// grows past twice what was actually read. False when memory runs out (the
// array is kept).
template <typename T>
bool append(T** items, int* count, int* room, const T& value)
{
    if (*count == *room) {
        const int grown = *room ? *room * 2 : 16;
        void* p = mem_realloc(*items, sizeof(T) * size_t(grown));
        if (!p)
            return false;
        *items = static_cast<T*>(p);
        *room = grown;
    }
    (*items)[(*count)++] = value;
    return true;
}

// The rest of the line after "PNG", trimmed, as a data name. False (and
// "EOF while reading .seq") when the file ends first.
bool read_png_name(data_stream* s, char* name, int size)
{
    if (!stream_gets(s, name, size)) {
        log_printf("EOF while reading .seq\n");
        return false;
    }
    size_t n = strlen(name);
    if (n > 0 && name[n - 1] != '\n') {
        // A name longer than the buffer: drop the rest of the line so it
        // is not taken for the next picture, and refuse it.
        int c;
        bool cut = false;
        while ((c = stream_getc(s)) != -1 && c != '\n')
            cut = true;
        if (cut) {
            log_printf("Can't read %.900s\n", name);
            return false;
        }
    }
    while (n > 0 && isspace(static_cast<unsigned char>(name[n - 1])))
        name[--n] = 0;
    size_t start = 0;
    while (name[start] && isspace(static_cast<unsigned char>(name[start])))
        start++;
    memmove(name, name + start, n - start + 1);
    return true;
}

// One picture of the sequence, fitted to at most SEQ_MAX_PICTURE_PIXELS.
bool read_picture(data_stream* s, int index, seq_picture* out)
{
    char token[16];
    picture pic;
    if (!read_picture_magic(s, token, sizeof token)) {
        log_printf("Error reading .seq frame %d\n", index);
        return false;
    }
    if (!strcmp(token, "Q7")) {
        if (!predictive_decode(s, token, 4, &pic)) {
            log_printf("Error reading .seq frame %d\n", index);
            return false;
        }
    } else if (!strcmp(token, "PNG")) {
        char name[1024];
        if (!read_png_name(s, name, sizeof name))
            return false;
        if (!png_decode(name, &pic)) {
            log_printf("Can't read %.900s\n", name);
            return false;
        }
    } else {
        log_printf("Error reading .seq frame %d\n", index);
        return false;
    }
    out->width = pic.width;
    out->height = pic.height;
    out->channels = pic.channels;
    out->data = pic.pixels;
    pic.pixels = nullptr;
    picture_free(&pic);  // the attached text is not wanted
    image_fit(&out->data, &out->width, &out->height, out->channels, SEQ_MAX_PICTURE_PIXELS, 0);
    return true;
}

}  // namespace

void seq_free(seq_file* seq)
{
    if (!seq)
        return;
    if (seq->pictures)
        for (int i = 0; i < seq->picture_count; i++)
            mem_free(seq->pictures[i].data);
    mem_free(seq->pictures);
    mem_free(seq->sequence);
    *seq = seq_file{};
}

bool seq_read(data_stream* s, seq_file* out)
{
    *out = seq_file{};
    int length, count, ticks, loop;
    if (stream_scan(s, "%d %d %d %d", &length, &count, &ticks, &loop) != 4 || length < 1 || count < 1)
        return false;
    // The update divides by the ticks and indexes the pictures with the
    // entries, so neither may be out of range.
    if (ticks < 1) {
        log_printf("Bad ticks per frame %d in .seq\n", ticks);
        return false;
    }
    if (count > SEQ_MAX_PICTURES) {
        log_printf("Too many pictures (%d) in .seq\n", count);
        return false;
    }
    seq_file seq;
    seq.ticks_per_frame = ticks;
    seq.loop = loop;
    int room = 0;
    while (seq.sequence_length < length) {
        int entry;
        if (stream_scan(s, "%d ", &entry) != 1) {
            seq_free(&seq);
            return false;
        }
        if (entry < 0 || entry >= count) {
            log_printf("Sequence entry %d out of range in .seq\n", entry);
            seq_free(&seq);
            return false;
        }
        if (!append(&seq.sequence, &seq.sequence_length, &room, entry)) {
            seq_free(&seq);
            return false;
        }
    }
    room = 0;
    while (seq.picture_count < count) {
        seq_picture pic;
        if (!read_picture(s, seq.picture_count, &pic)) {
            seq_free(&seq);
            return false;
        }
        if (!append(&seq.pictures, &seq.picture_count, &room, pic)) {
            mem_free(pic.data);
            seq_free(&seq);
            return false;
        }
        const seq_picture& first = seq.pictures[0];
        if (pic.width != first.width || pic.height != first.height) {
            log_printf("Width/height mismatch reading .seq\n");
            seq_free(&seq);
            return false;
        }
        if (pic.channels != first.channels) {
            log_printf("Depth mismatch reading .seq\n");
            seq_free(&seq);
            return false;
        }
    }
    *out = seq;
    return true;
}

bool link_read_target(data_stream* s, char* target, size_t size)
{
    if (!target || size < 2)
        return false;
    size_t limit = size - 1 < size_t(LINK_TARGET_MAX) ? size - 1 : size_t(LINK_TARGET_MAX);
    size_t n = stream_read(s, target, limit);
    target[n] = 0;
    // A name ends at the first byte that cannot be part of a C string.
    n = strlen(target);
    while (n > 0 && isspace(static_cast<unsigned char>(target[n - 1])))
        target[--n] = 0;
    size_t start = 0;
    while (target[start] && isspace(static_cast<unsigned char>(target[start])))
        start++;
    memmove(target, target + start, n - start + 1);
    return target[0] != 0;
}
