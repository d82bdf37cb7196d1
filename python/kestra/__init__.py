"""KESTRA from Python: kestra.plot draws what kestra found."""
