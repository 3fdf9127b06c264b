# A two-layer table for checking the layer check itself: low/a.cc breaks it.
korvo_layer(low FILES low/*)
korvo_layer(high FILES high/* USES low)
