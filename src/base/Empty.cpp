// Placeholder so a layer without units still forms a library.
