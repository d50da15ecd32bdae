// Names of keys, mouse buttons and device buttons, the alias list and the
// interned name store. Configuration files bind controls by these names.
#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <vector>

#include "platform/input.h"
#include "platform/input_internal.h"

namespace {

struct code_name {
    int code;
    const char* name;
};

const code_name fixed_names[] = {
    {close_code, "Close"},
    {mouse_left_code, "Mouse Left"},
    {mouse_middle_code, "Mouse Middle"},
    {mouse_right_code, "Mouse Right"},
};

// Names this platform gives to keys the standard table below leaves out.
// They come first when naming a code, so they must not rename standard keys.
const code_name system_names[] = {
    {56, "Left Alt"},       {312, "Right Alt"},      {70, "Scroll Lock"},
    {311, "Print Screen"},  {347, "Left Windows"},   {348, "Right Windows"},
    {349, "Application"},   {89, "Keypad ="},        {86, "Extra \\"},
    {100, "F13"},           {101, "F14"},            {102, "F15"},
    {103, "F16"},           {104, "F17"},            {105, "F18"},
    {106, "F19"},           {107, "F20"},            {108, "F21"},
    {109, "F22"},           {110, "F23"},            {118, "F24"},
};

// The standard PC keys by set-1 scan code (E0 keys have 256 added).
const code_name fallback_names[] = {
    {1, "Esc"},          {11, "0"},          {2, "1"},            {3, "2"},
    {4, "3"},            {5, "4"},           {6, "5"},            {7, "6"},
    {8, "7"},            {9, "8"},           {10, "9"},           {30, "A"},
    {48, "B"},           {46, "C"},          {32, "D"},           {18, "E"},
    {33, "F"},           {34, "G"},          {35, "H"},           {23, "I"},
    {36, "J"},           {37, "K"},          {38, "L"},           {49, "M"},
    {50, "N"},           {24, "O"},          {25, "P"},           {16, "Q"},
    {19, "R"},           {31, "S"},          {20, "T"},           {22, "U"},
    {47, "V"},           {17, "W"},          {45, "X"},           {21, "Y"},
    {44, "Z"},           {12, "-"},          {13, "="},           {26, "["},
    {27, "]"},           {39, ";"},          {40, "'"},           {41, "`"},
    {43, "\\"},          {51, ","},          {52, "."},           {53, "/"},
    {14, "Backspace"},   {15, "Tab"},        {28, "Enter"},       {29, "Left Ctrl"},
    {42, "Left Shift"},  {54, "Right Shift"}, {57, "Space"},      {57, " "},
    {58, "Caps Lock"},   {285, "Right Ctrl"}, {338, "Insert"},    {339, "Delete"},
    {327, "Home"},       {335, "End"},       {329, "Page Up"},    {337, "Page Down"},
    {328, "Up"},         {336, "Down"},      {331, "Left"},       {333, "Right"},
    {59, "F1"},          {60, "F2"},         {61, "F3"},          {62, "F4"},
    {63, "F5"},          {64, "F6"},         {65, "F7"},          {66, "F8"},
    {67, "F9"},          {68, "F10"},        {87, "F11"},         {88, "F12"},
    {69, "Pause"},       {325, "Num Lock"},  {309, "Keypad /"},   {55, "Keypad *"},
    {74, "Keypad -"},    {71, "Keypad 7"},   {72, "Keypad 8"},    {73, "Keypad 9"},
    {78, "Keypad +"},    {75, "Keypad 4"},   {76, "Keypad 5"},    {77, "Keypad 6"},
    {79, "Keypad 1"},    {80, "Keypad 2"},   {81, "Keypad 3"},    {284, "Keypad Enter"},
    {82, "Keypad 0"},    {83, "Keypad ."},
};
static_assert(sizeof fallback_names / sizeof fallback_names[0] == 98, "standard key table");

struct name_table {
    const code_name* entries;
    size_t count;
    int code_offset;  // keys are 4096 + scan code
};

const name_table tables[] = {
    {fixed_names, sizeof fixed_names / sizeof fixed_names[0], 0},
    {system_names, sizeof system_names / sizeof system_names[0], key_code_base},
    {fallback_names, sizeof fallback_names / sizeof fallback_names[0], key_code_base},
};

bool blank(char c)
{
    return c == '_' || isspace((unsigned char)c);
}

// Letters ignore case; white space and "_" stand for a space.
bool loose_equal(const char* a, const char* b)
{
    for (;; a++, b++) {
        if (!*a || !*b)
            return !*a && !*b;
        if (blank(*a) && blank(*b))
            continue;
        if (tolower((unsigned char)*a) != tolower((unsigned char)*b))
            return false;
    }
}

int search_tables(const char* name, bool loose)
{
    for (const name_table& t : tables)
        for (size_t i = 0; i < t.count; i++)
            if (loose ? loose_equal(name, t.entries[i].name) : strcmp(name, t.entries[i].name) == 0)
                return t.entries[i].code + t.code_offset;
    return no_key_code;
}

const char* table_name(const name_table& t, int code)
{
    for (size_t i = 0; i < t.count; i++)
        if (t.entries[i].code + t.code_offset == code)
            return t.entries[i].name;
    return nullptr;
}

// "0x1d": a scan code written in hexadecimal.
int parse_hex_key(const char* name)
{
    if (name[0] != '0' || name[1] != 'x' || !isxdigit((unsigned char)name[2]))
        return no_key_code;
    char* end = nullptr;
    unsigned long v = strtoul(name + 2, &end, 16);
    if (*end || v >= (unsigned long)key_code_count)
        return no_key_code;
    return key_code_base + (int)v;
}

int parse_device_button(const char* name)
{
    char device[64];
    int index = 0;
    if (sscanf(name, "%63[^.].key[%d]", device, &index) != 2 &&
        sscanf(name, "%63s button %d", device, &index) != 2)
        return no_key_code;
    input_device* d = find_input_device(device);
    if (!d || index < 0 || index >= max_named_device_button || index >= d->button_count)
        return no_key_code;
    return (int)(d->code_base + (uint32_t)index);
}

struct interned_store {
    std::mutex lock;
    std::vector<char*> sorted;  // each text once, for the life of the program
};

interned_store& the_store()
{
    static interned_store* store = new interned_store;
    return *store;
}

struct alias {
    char* name;
    char* target;
};

struct alias_list {
    alias* entries = nullptr;
    int count = 0;
    int capacity = 0;
};

alias_list g_aliases;

const alias* find_alias(const char* name)
{
    for (int i = 0; i < g_aliases.count; i++)
        if (strcmp(g_aliases.entries[i].name, name) == 0)
            return &g_aliases.entries[i];
    return nullptr;
}

}  // namespace

const char* intern_name(const char* text)
{
    if (!text)
        return nullptr;
    interned_store& s = the_store();
    std::lock_guard<std::mutex> guard(s.lock);
    auto at = std::lower_bound(s.sorted.begin(), s.sorted.end(), text,
                               [](const char* a, const char* b) { return strcmp(a, b) < 0; });
    if (at != s.sorted.end() && strcmp(*at, text) == 0)
        return *at;
    char* copy = strdup(text);
    if (!copy) {
        log_printf("Out of memory\n");
        abort();
    }
    s.sorted.insert(at, copy);
    return copy;
}

int key_code_by_name(const char* name)
{
    if (!name || !*name)
        return no_key_code;
    name = resolve_alias(name);
    int code = search_tables(name, false);
    if (code == no_key_code)
        code = search_tables(name, true);
    if (code == no_key_code)
        code = parse_hex_key(name);
    if (code == no_key_code)
        code = parse_device_button(name);
    return code;
}

const char* key_name_by_code(int code)
{
    if (const char* name = table_name(tables[0], code))
        return intern_name(name);
    if (code >= key_code_base && code < key_code_base + key_code_count) {
        const char* name = table_name(tables[1], code);
        if (!name)
            name = table_name(tables[2], code);
        if (name)
            return intern_name(name);
        char text[16];
        snprintf(text, sizeof text, "0x%x", code - key_code_base);
        return intern_name(text);
    }
    if (code < 0x10000)
        return nullptr;
    uint32_t base = (uint32_t)code & 0xffff0000u;
    int index = code & 0xffff;
    for (int i = 0; i < input_device_count(); i++) {
        input_device* d = input_device_at(i);
        if (d->code_base != base)
            continue;
        if (index >= d->button_count || index >= max_named_device_button)
            return nullptr;
        char text[1100];
        snprintf(text, sizeof text, "%.1000s button %d", d->name, index);
        return intern_name(text);
    }
    return nullptr;
}

void add_alias(const char* name, const char* target)
{
    if (!name || !target)
        return;
    if (const alias* old = find_alias(name)) {
        // The layer creates its aliases again with every window: quietly
        // keep an identical pair.
        if (strcmp(old->target, target) != 0)
            log_printf("Second alias for '%s' ('%s') ignored\n", name, target);
        return;
    }
    alias_list& list = g_aliases;
    if (list.count == list.capacity) {
        int capacity = list.capacity ? list.capacity * 2 : 32;
        alias* grown = (alias*)realloc(list.entries, sizeof(alias) * (size_t)capacity);
        if (!grown) {
            log_printf("Can't alias %s to %s -- out of memory\n", name, target);
            return;
        }
        list.entries = grown;
        list.capacity = capacity;
    }
    char* n = strdup(name);
    char* t = strdup(target);
    if (!n || !t) {
        free(n);
        free(t);
        log_printf("Can't alias %s to %s -- out of memory\n", name, target);
        return;
    }
    list.entries[list.count].name = n;
    list.entries[list.count].target = t;
    list.count++;
}

const char* resolve_alias(const char* name)
{
    if (!name)
        return name;
    const alias* a = find_alias(name);
    return a ? a->target : name;
}

void aliases_reset_for_tests()
{
    for (int i = 0; i < g_aliases.count; i++) {
        free(g_aliases.entries[i].name);
        free(g_aliases.entries[i].target);
    }
    g_aliases.count = 0;
}
