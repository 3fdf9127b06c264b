# POSIX_ONLY: a harness that makes its temporary files, folders, sockets or
# environment with POSIX calls is replayed on POSIX hosts only.
# The gateway channel's packet headers and message reassembly, fed a series
# of datagrams. The packet code is internal to korvo_runtime, so the target
# compiles it in.
korvo_add_fuzz_target(NAME channel_packets
  SOURCE ${CMAKE_CURRENT_LIST_DIR}/channel_packets.cc LIBS korvo_runtime)
foreach(target IN ITEMS replay_channel_packets fuzz_channel_packets)
  if(TARGET ${target})
    target_sources(${target} PRIVATE ${KORVO_INCLUDE_ROOT}/runtime/channel_packet.cc)
  endif()
endforeach()
# What a network stream makes of the packets the channel accepted: command
# bytes, empty packets, data of any length and ends of stream, read over a
# TOC through the library.
korvo_add_fuzz_target(NAME channel_stream_reads
  SOURCE ${CMAKE_CURRENT_LIST_DIR}/channel_stream_reads.cc LIBS korvo POSIX_ONLY)
