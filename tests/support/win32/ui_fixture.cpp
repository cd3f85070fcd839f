#include "ui_fixture.h"

#include <cstdio>

#include "app/current_target.h"
#include "dialog/options_layout.h"
#include "dialog/options_proc.h"

void ui_test::SetUp()
{
    host_reset();
}

void ui_test::TearDown()
{
    EXPECT_EQ(host.global_live, 0) << "a global block was not freed";
    host_reset();
}

sample_recipe write_sample(const std::string &path, const sample_recipe &recipe, std::source_location where)
{
    SCOPED_TRACE(testing::Message() << "sample made at " << where.file_name() << ":" << where.line());
    sample_recipe placed{};
    EXPECT_EQ(sample_layout(&recipe, &placed), 0);
    EXPECT_EQ(sample_write(path.c_str(), &recipe), 0);
    return placed;
}

sample_recipe default_sample()
{
    sample_recipe recipe{};
    sample_defaults(&recipe, 256 * 1024);
    return recipe;
}

patch_target *scanned(const std::string &path)
{
    patch_target *t = open_target(path.c_str());
    if (t != nullptr) {
        std::FILE *quiet = std::fopen("/dev/null", "w");
        scan_diagnostics = quiet;
        scan_target(t);
        scan_diagnostics = nullptr;
        if (quiet != nullptr)
            std::fclose(quiet);
    }
    return t;
}

host_action type_text(int id, const char *text)
{
    return host_action{HOST_TYPE, id, text, 0, nullptr, nullptr};
}

host_action click(int id)
{
    return host_action{HOST_CLICK, id, nullptr, 0, nullptr, nullptr};
}

host_action close_box()
{
    return host_action{HOST_CLOSE, 0, nullptr, 0, nullptr, nullptr};
}

host_action escape_key()
{
    return host_action{HOST_ESCAPE, 0, nullptr, 0, nullptr, nullptr};
}

host_action enter_key()
{
    return host_action{HOST_ENTER, 0, nullptr, 0, nullptr, nullptr};
}

host_action command(WPARAM wparam)
{
    return host_action{HOST_COMMAND, 0, nullptr, wparam, nullptr, nullptr};
}

host_action call_out(void (*fn)(void *), void *context)
{
    return host_action{HOST_CALL, 0, nullptr, 0, fn, context};
}

INT_PTR run_options(patch_target *t, const std::vector<host_action> &actions)
{
    current_target = t;
    host_script_dialog(actions.data(), static_cast<int>(actions.size()));
    INITCOMMONCONTROLSEX icc{sizeof(INITCOMMONCONTROLSEX), ICC_UPDOWN_CLASS};
    InitCommonControlsEx(&icc);
    dlg_template *d = layout_options_dialog(t);
    if (d == nullptr)
        return -2;
    INT_PTR r = dlg_run(d, nullptr, options_dialog_proc);
    dlg_free(d);
    return r;
}
