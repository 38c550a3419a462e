pytest_plugins = ["norvane.pytest_plugin"]
