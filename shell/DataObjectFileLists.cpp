// Placeholder until this topic is written.
