# A table for checking the system-header lists of the layer check: each of
# sub/, base/ and tool/ holds one file the check must refuse and one it must
# let through.
korvo_layer(base FILES base/*)
korvo_layer(sub FILES sub/* USES base)
korvo_system_headers(std cstdio string)
korvo_system_headers(posix unistd.h sys/*)
korvo_layer_system_headers(base std posix)
korvo_program_folder(tool SYSTEM std)
korvo_system_headers_pending(sub/pending.cc)
