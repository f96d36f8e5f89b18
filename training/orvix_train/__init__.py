"""Training, export and validation of Orvix's two classifiers."""
