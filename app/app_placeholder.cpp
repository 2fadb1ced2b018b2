// Filled in by the layer's own work.
