#include "app/messages.h"

#include <cstdio>
#include <iterator>

namespace {

constexpr UINT NO_DEFAULT_BUTTON = 0x800;
// For the boxes shown over the options dialog. They have no owner, so the
// system would leave the dialog open to input, and a second OK would stack a
// second box (or write again): with no owner, MB_TASKMODAL disables every
// window of the thread while the box is up.
constexpr UINT OVER_DIALOG = MB_TASKMODAL;

const message_box message_boxes[] = {
    /* MSG_WELCOME */
    {"Welcome to Velmar's ZANDOR patcher.\n"
     "\n"
     "This patcher allows you to do some\n"
     "simple changes to your ZANDOR game.\n"
     "\n"
     "Read the accompanying README for\n"
     "details about the patces.\n"
     "\n"
     "A word of warning - take a backup\n"
     "copy of your ZANDOR.EXE -- you are\n"
     "using this on your own risk!!\n"
     "\n"
     "Original patcher by Velmar.\n"
     "For contact details see the README.",
     "Welcome", MB_OK | NO_DEFAULT_BUTTON},
    /* MSG_OPEN_ERROR */
    {"Error opening file", "Error", MB_OK | MB_ICONERROR | MB_DEFBUTTON2 | NO_DEFAULT_BUTTON},
    /* MSG_RETRY */
    {"Error opening file %s", "Error", MB_RETRYCANCEL | MB_ICONERROR | MB_DEFBUTTON2 | NO_DEFAULT_BUTTON},
    /* MSG_WRITE_ERROR */
    {"Error writing file", "Error", MB_OK | MB_ICONERROR | MB_DEFBUTTON2 | NO_DEFAULT_BUTTON | OVER_DIALOG},
    /* MSG_WC06_KEPT */
    {nullptr, "Warning", MB_OK | MB_ICONWARNING | NO_DEFAULT_BUTTON | OVER_DIALOG},
    /* MSG_SYSTEM_DLL */
    {"Error loading system DLL", "Error", MB_OK | MB_ICONERROR | NO_DEFAULT_BUTTON},
    /* MSG_OUT_OF_RANGE */
    {nullptr, "Error", MB_OK | MB_ICONERROR | NO_DEFAULT_BUTTON | OVER_DIALOG},
    /* MSG_DONE */
    {nullptr, "Done", MB_OK | MB_ICONINFORMATION | NO_DEFAULT_BUTTON | OVER_DIALOG},
};
static_assert(std::size(message_boxes) == MSG_COUNT, "a box for every message_id");

} // namespace

const message_box &message_of(message_id id)
{
    return message_boxes[id];
}

int show_message_about(message_id id, const char *path, const char *why)
{
    if (why == nullptr)
        return show_message(id);
    char text[2 * PATH_TEXT_SIZE + 512];
    std::snprintf(text, sizeof text, "%s\n\n%s: %s", message_boxes[id].text, path, why);
    return show_message(id, text);
}

int show_message(message_id id, const char *text)
{
    const message_box &m = message_boxes[id];
    return MessageBoxA(nullptr, text != nullptr ? text : m.text, m.caption, m.type);
}
