#error "the layer's EXCLUDE must leave this folder out"
