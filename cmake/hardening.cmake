# Both Windows programs run where anyone may have put files beside them, the
# patcher elevated. Address space layout randomisation (DYNAMICBASE) and
# no-execute data (NX_COMPAT) stay on; NO_SEH: neither program registers
# structured exception handlers, so none may be dispatched to; terminal
# server aware: no compatibility shims on a terminal server. The stack and
# buffer checks' runtime is the programs' own (src/platform/stack_guard.cpp).
add_compile_options(-fstack-protector-strong -D_FORTIFY_SOURCE=2)
add_link_options(-fstack-protector-strong -Wl,--dynamicbase -Wl,--nxcompat -Wl,--no-seh -Wl,--tsaware)
