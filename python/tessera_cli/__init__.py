"""Command-line assessment of SQL estates with the agents.tessera modules."""
