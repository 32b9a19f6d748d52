// The graph viewer and the reveal script.
