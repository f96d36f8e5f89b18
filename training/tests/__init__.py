"""Tests of the training code; a package, so that unittest discovery runs them with training/ as the top level."""
