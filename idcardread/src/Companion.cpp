// The reader's companion libraries (photo decoder and device access) have no
// part to play in the stand-in: they are built empty so that the files exist.
